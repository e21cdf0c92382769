#include "win/ErrorBox.h"

#include "core/ErrorText.h"
#include "win/Application.h"

#include <windows.h>

#include <utility>

namespace {

ErrorBoxPresenter& Replacement()
{
    static ErrorBoxPresenter replacement;
    return replacement;
}

} // namespace

void ShowErrorBox(const std::string& message)
{
    const std::string text = StandardErrorText(message);
    if (Replacement()) {
        Replacement()(text);
        return;
    }
    MessageBoxA(GetActiveWindow(), text.c_str(), Application.Title().c_str(),
                MB_OK | MB_ICONERROR);
}

ErrorBoxPresenter ReplaceErrorBox(ErrorBoxPresenter show)
{
    return std::exchange(Replacement(), std::move(show));
}
