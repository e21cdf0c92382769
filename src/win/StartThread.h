#pragma once
// A long-lived thread of the program's own (not a worker: it has no completion on the UI thread).

#include "win/SystemErrorText.h"
#include "win/UniqueHandle.h"

#include <process.h>

#include <memory>
#include <stdexcept>

// Starts `body` on a new thread, handing it `argument`, which it then owns; returns the thread's
// handle. Raises std::runtime_error "Thread creation error: " and the system's text when no
// thread can be had (the argument is freed then).
template <typename Argument>
UniqueKernelHandle StartThread(unsigned(WINAPI* body)(void*), std::unique_ptr<Argument> argument)
{
    // Address space reserved for the stack; such a thread needs a small part of it.
    constexpr unsigned kStackReservation = 256 * 1024;
    UniqueKernelHandle thread(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, kStackReservation, body, argument.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)));
    if (!thread)
        throw std::runtime_error("Thread creation error: " + SystemErrorText(GetLastError()));
    argument.release();
    return thread;
}
