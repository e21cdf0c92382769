#pragma once

#include <cstdint>
#include <string>

// The message of an I/O error on a local file for a system error code: a text of its own for
// the common failures ("File access denied"), else "I/O error <code>" in unsigned decimal.
std::string IoErrorText(std::uint32_t code);
