#pragma once
// The clipboard as plain text.

#include <windows.h>

#include <string>

// Replaces the clipboard's contents by `text` (CF_TEXT). Raises std::runtime_error "Cannot open
// clipboard" when another window holds it open; the clipboard then stays as it was.
void CopyTextToClipboard(HWND owner, const std::string& text);
