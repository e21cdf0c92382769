#pragma once
// The platform's text for a system error code, without the trailing line break.

#include <windows.h>

#include <string>

std::string SystemErrorText(DWORD code);
