#pragma once
// Move-only owner of one platform handle. The traits name the handle type, the value that
// means "no handle" and how a handle is closed.

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <utility>

// `Close` releases a handle; `InvalidValue` is the handle value that means "none" (0, or -1 for
// INVALID_HANDLE_VALUE).
template <typename THandle, auto Close, std::intptr_t InvalidValue = 0>
class UniqueHandle {
public:
    using Handle = THandle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    static Handle Invalid() noexcept { return reinterpret_cast<Handle>(InvalidValue); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Invalid(); }

    Handle release() noexcept { return std::exchange(handle_, Invalid()); }

    // Closes the held handle, if any, and takes `handle`. GetLastError() is left as it was,
    // so a caller can release resources before reading the error of a failed call.
    void reset(Handle handle = Invalid()) noexcept
    {
        Handle old = std::exchange(handle_, handle);
        if (old != Invalid()) {
            const DWORD lastError = GetLastError();
            Close(old);
            SetLastError(lastError);
        }
    }

    // For functions that return a handle through a pointer: closes the held one first.
    Handle* put() noexcept
    {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Invalid();
};

// An echo handle of "icmp.dll" is closed by the library's own IcmpCloseHandle, looked up while
// the library is loaded (its owner keeps it loaded for as long as the handle lives).
inline void CloseEchoHandle(HANDLE handle) noexcept
{
    using CloseEntry = BOOL(WINAPI*)(HANDLE);
    const FARPROC entry = GetProcAddress(GetModuleHandleA("icmp.dll"), "IcmpCloseHandle");
    if (entry)
        reinterpret_cast<CloseEntry>(reinterpret_cast<void (*)()>(entry))(handle);
}

using UniqueHKey = UniqueHandle<HKEY, &RegCloseKey>;
using UniqueHInternet = UniqueHandle<HINTERNET, &InternetCloseHandle>;
using UniqueKernelHandle = UniqueHandle<HANDLE, &CloseHandle>;           // threads, events, processes
using UniqueFile = UniqueHandle<HANDLE, &CloseHandle, -1>;               // files
using UniqueHModule = UniqueHandle<HMODULE, &FreeLibrary>;
using UniqueGdiObject = UniqueHandle<HGDIOBJ, &DeleteObject>;
using UniqueHMenu = UniqueHandle<HMENU, &DestroyMenu>;
using UniqueHGlobal = UniqueHandle<HGLOBAL, &GlobalFree>;
using UniqueEchoHandle = UniqueHandle<HANDLE, &CloseEchoHandle, -1>;
