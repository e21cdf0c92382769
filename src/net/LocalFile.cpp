#include "net/LocalFile.h"

#include "core/IoErrorText.h"
#include "win/UniqueHandle.h"

EInOutError::EInOutError(unsigned long code)
    : std::runtime_error(IoErrorText(static_cast<std::uint32_t>(code))), code_(code)
{
}

std::string ExecutablePath()
{
    char path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

std::string ExecutableDirectory()
{
    const std::string path = ExecutablePath();
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string ReadFileText(const std::string& path)
{
    const UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw EInOutError(GetLastError());
    std::string text;
    char buffer[64 * 1024];
    DWORD count = 0;
    do {
        if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr))
            throw EInOutError(GetLastError());
        text.append(buffer, count);
    } while (count > 0);
    return text;
}

void WriteFileText(const std::string& path, const std::string& text)
{
    const UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw EInOutError(GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size())
        throw EInOutError(GetLastError());
}
