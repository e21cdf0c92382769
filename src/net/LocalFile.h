#pragma once
// Local files beside the executable: their place, reading one whole, and the error raised for
// trouble with them.

#include <stdexcept>
#include <string>

// Raised when a local file cannot be created, read, written or closed; the message is the
// I/O error text of the system error code.
class EInOutError : public std::runtime_error {
public:
    explicit EInOutError(unsigned long code);
    unsigned long Code() const { return code_; }

private:
    unsigned long code_;
};

// The full path of the running executable.
std::string ExecutablePath();
// The directory of the running executable, ending in a backslash.
std::string ExecutableDirectory();

// The bytes of the file at `path`. Raises EInOutError.
std::string ReadFileText(const std::string& path);
// Replaces the file at `path` by `text`. Raises EInOutError.
void WriteFileText(const std::string& path, const std::string& text);
