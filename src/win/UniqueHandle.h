#pragma once
// Move-only owner of one platform handle. The traits name the handle type, the value that
// means "no handle" and how a handle is closed.

#include <windows.h>
#include <wininet.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

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

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

    Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    // Closes the held handle, if any, and takes `handle`. GetLastError() is left as it was,
    // so a caller can release resources before reading the error of a failed call.
    void reset(Handle handle = Traits::Invalid()) noexcept
    {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) {
            const DWORD lastError = GetLastError();
            Traits::Close(old);
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
    Handle handle_ = Traits::Invalid();
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { RegCloseKey(h); }
};

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { InternetCloseHandle(h); }
};

// Kernel objects that use null for "none": threads, events, processes.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

// Kernel objects that use INVALID_HANDLE_VALUE for "none": files.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct ModuleHandleTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { FreeLibrary(h); }
};

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DeleteObject(h); }
};

struct MenuHandleTraits {
    using Handle = HMENU;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DestroyMenu(h); }
};

using UniqueHKey = UniqueHandle<RegistryKeyTraits>;
using UniqueHInternet = UniqueHandle<InternetHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueHModule = UniqueHandle<ModuleHandleTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueHMenu = UniqueHandle<MenuHandleTraits>;
