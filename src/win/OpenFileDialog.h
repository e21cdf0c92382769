#pragma once
// The platform's file-open dialog, configured once and shown on request.

#include <windows.h>
#include <commdlg.h>

#include <functional>
#include <string>

class OpenFileDialog {
public:
    // Filter entries as "description|pattern|description|pattern...".
    void SetFilter(const std::string& entries);
    void SetOptions(DWORD options) { options_ = options; }

    // Shows the dialog owned by `owner`, its file-name box prefilled with FileName(). When the
    // user confirms, FileName() becomes the chosen file; when the user cancels it stays as it was.
    // Returns whether the user confirmed.
    bool Execute(HWND owner);
    const std::string& FileName() const { return fileName_; }

private:
    std::string filter_; // NUL-separated, ending in two NULs
    DWORD options_ = 0;
    std::string fileName_;
};

// Replaces the platform's GetOpenFileNameA for every dialog; an empty function restores it.
// Returns the previous replacement. UI thread only.
using OpenFileDialogRunner = std::function<BOOL(OPENFILENAMEA& request)>;
OpenFileDialogRunner ReplaceOpenFileDialog(OpenFileDialogRunner run);
