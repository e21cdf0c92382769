#pragma once

#include <string>

// The text of the standard error box for an exception message: the message itself, with a
// full stop appended when it is not empty and its last character sorts after "." (compared as
// unsigned bytes, so letters, digits and 8-bit characters get one; ")", "'" and "!" do not).
std::string StandardErrorText(const std::string& message);
