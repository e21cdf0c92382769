#include "win/OpenFileDialog.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

OpenFileDialogRunner& Replacement()
{
    static OpenFileDialogRunner replacement;
    return replacement;
}

} // namespace

void OpenFileDialog::SetFilter(const std::string& entries)
{
    filter_ = entries;
    std::replace(filter_.begin(), filter_.end(), '|', '\0');
    filter_.append(2, '\0');
}

bool OpenFileDialog::Execute(HWND owner)
{
    std::vector<char> file(32768, '\0');
    fileName_.copy(file.data(), std::min(fileName_.size(), file.size() - 1));

    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFilter = filter_.c_str();
    request.nFilterIndex = 1;
    request.lpstrFile = file.data();
    request.nMaxFile = static_cast<DWORD>(file.size());
    request.Flags = options_;
    const BOOL confirmed = Replacement() ? Replacement()(request) : GetOpenFileNameA(&request);
    if (!confirmed)
        return false;
    fileName_ = file.data();
    return true;
}

OpenFileDialogRunner ReplaceOpenFileDialog(OpenFileDialogRunner run)
{
    return std::exchange(Replacement(), std::move(run));
}
