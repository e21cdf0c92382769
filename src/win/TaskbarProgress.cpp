#include "win/TaskbarProgress.h"

#include <shobjidl.h>

TaskbarProgress::~TaskbarProgress()
{
    if (list_)
        list_->Release();
    if (comStarted_)
        CoUninitialize();
}

bool TaskbarProgress::Ready()
{
    if (!tried_) {
        tried_ = true;
        comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ITaskbarList3* list = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                       reinterpret_cast<void**>(&list)))) {
            if (SUCCEEDED(list->HrInit()))
                list_ = list;
            else
                list->Release();
        }
    }
    return list_ != nullptr;
}

void TaskbarProgress::Show(HWND window, std::size_t done, std::size_t total)
{
    if (!Ready())
        return;
    list_->SetProgressState(window, TBPF_NORMAL);
    list_->SetProgressValue(window, done, total == 0 ? 1 : total);
}

void TaskbarProgress::Clear(HWND window)
{
    if (list_)
        list_->SetProgressState(window, TBPF_NOPROGRESS);
}
