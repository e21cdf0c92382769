#pragma once
// The standard error box and the boundary that turns an exception leaving a handler into it.

#include <exception>
#include <functional>
#include <string>

// Shows `message` in the standard error box: error icon, OK button, titled with the application
// title, the text completed by StandardErrorText. Returns when the user has dismissed it.
void ShowErrorBox(const std::string& message);

// Replaces what ShowErrorBox does with `show`, which receives the completed text; an empty
// function restores the real message box. Returns the previous replacement. UI thread only.
using ErrorBoxPresenter = std::function<void(const std::string& text)>;
ErrorBoxPresenter ReplaceErrorBox(ErrorBoxPresenter show);

// Runs one handler. An exception that leaves it ends it and is shown in the error box; the
// program goes on. Returns false when the handler ended that way.
template <typename Handler>
bool RunHandler(Handler&& handler) noexcept
{
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        ShowErrorBox(error.what());
    } catch (...) {
        ShowErrorBox("Unexpected error");
    }
    return false;
}
