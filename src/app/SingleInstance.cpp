#include "app/SingleInstance.h"

#include <cstring>

namespace {

constexpr const char* kMarkName = "Local\\Zarnu.SingleInstance";

struct Search {
    const char* windowClass;
    HWND found;
};

BOOL CALLBACK FindOthersWindow(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<Search*>(parameter);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (std::strcmp(name, search.windowClass) != 0 || process == GetCurrentProcessId())
        return TRUE;
    search.found = window;
    return FALSE;
}

} // namespace

SingleInstance::SingleInstance() : mark_(CreateMutexA(nullptr, FALSE, kMarkName))
{
    first_ = !mark_ || GetLastError() != ERROR_ALREADY_EXISTS;
}

void SingleInstance::ShowRunning(const char* windowClass)
{
    Search search{windowClass, nullptr};
    EnumWindows(&FindOthersWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return;
    if (IsIconic(search.found))
        ShowWindow(search.found, SW_RESTORE);
    SetForegroundWindow(search.found);
}
