#include "win/UiMailbox.h"

#include "win/Application.h"
#include "win/ErrorBox.h"

#include <stdexcept>

namespace {

constexpr UINT kRunPosted = WM_APP + 1;
constexpr char kClassName[] = "ZarnuUiMailbox";
// Pieces of work run per message: the rest follow after the messages queued meanwhile.
constexpr int kRunsPerMessage = 16;

} // namespace

UiMailbox::UiMailbox()
{
    WNDCLASSEXA windowClass{sizeof windowClass};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassExA(&windowClass); // fails harmlessly once it is registered
    window_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!window_)
        throw std::runtime_error("Cannot create a window for the UI thread's work");
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

UiMailbox::~UiMailbox()
{
    DestroyWindow(window_);
}

void UiMailbox::Post(std::function<void()> work)
{
    const std::lock_guard<std::mutex> hold(lock_);
    posted_.push_back(std::move(work));
    if (!notified_)
        notified_ = PostMessageA(window_, kRunPosted, 0, 0) != FALSE;
}

void UiMailbox::RunSome()
{
    for (int run = 0; run < kRunsPerMessage; ++run) {
        std::function<void()> work;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (posted_.empty()) {
                notified_ = false;
                return;
            }
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        if (!Application.Terminated())
            RunHandler(work);
    }
    const std::lock_guard<std::mutex> hold(lock_);
    notified_ = PostMessageA(window_, kRunPosted, 0, 0) != FALSE;
}

LRESULT CALLBACK UiMailbox::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kRunPosted)
        return DefWindowProcA(window, message, wParam, lParam);
    if (auto* mailbox = reinterpret_cast<UiMailbox*>(GetWindowLongPtrA(window, GWLP_USERDATA)))
        mailbox->RunSome();
    return 0;
}
