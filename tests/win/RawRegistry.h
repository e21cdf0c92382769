#pragma once
// Direct registry access for tests: arranges values of any type and reads back what the program
// wrote, without going through the code under test.

#include <windows.h>

#include <optional>
#include <string>

namespace raw {

inline HKEY Create(const std::string& path)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    return key;
}

inline bool KeyExists(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline void Set(const std::string& path, const std::string& name, DWORD type,
                const std::string& bytes)
{
    HKEY key = Create(path);
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

inline void SetText(const std::string& path, const std::string& name, const std::string& text)
{
    Set(path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

inline void SetNumber(const std::string& path, const std::string& name, DWORD value)
{
    Set(path, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

// A REG_SZ written through the wide call: text of any characters.
inline void SetWideText(const std::string& path, const std::string& name, const std::wstring& text)
{
    HKEY key = Create(path);
    const std::wstring wideName(name.begin(), name.end());
    RegSetValueExW(key, wideName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// A REG_SZ read through the wide call, without its terminating zero; nullopt when missing.
inline std::optional<std::wstring> GetWideText(const std::string& path, const std::string& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring wideName(name.begin(), name.end());
    wchar_t text[1024] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = REG_NONE;
    const LSTATUS status = RegQueryValueExW(key, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    return std::wstring(text);
}

struct Value {
    DWORD type;
    std::string bytes;

    bool operator==(const Value&) const = default;
};

inline std::optional<Value> Get(const std::string& path, const std::string& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    Value value{REG_NONE, {}};
    DWORD size = 0;
    LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.bytes.resize(size);
        status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                  reinterpret_cast<BYTE*>(value.bytes.data()), &size);
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// A REG_SZ value without its terminating zero; nullopt when missing or of another type.
inline std::optional<std::string> GetText(const std::string& path, const std::string& name)
{
    const auto value = Get(path, name);
    if (!value || value->type != REG_SZ || value->bytes.empty() || value->bytes.back() != '\0')
        return std::nullopt;
    return value->bytes.substr(0, value->bytes.size() - 1);
}

inline std::optional<DWORD> GetNumber(const std::string& path, const std::string& name)
{
    const auto value = Get(path, name);
    if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD number = 0;
    memcpy(&number, value->bytes.data(), sizeof number);
    return number;
}

inline void RemoveValue(const std::string& path, const std::string& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}

// The names and data of every value in the key at `path` and in the keys below it, one after the
// other: for a test that no text stands anywhere there.
inline std::string EveryValue(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    std::string all;
    char name[16384];
    std::string data(1 << 20, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name, dataLength = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &dataLength) != ERROR_SUCCESS)
            break;
        all += std::string(name, nameLength) + "=" + data.substr(0, dataLength) + "\n";
    }
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        all += EveryValue(path + "\\" + std::string(name, nameLength));
    }
    RegCloseKey(key);
    return all;
}

inline void RemoveTree(const std::string& path)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
}

} // namespace raw

namespace raw {

// Replaces the key at `path` by a registry link to a key that does not exist, so that every
// attempt to open or create it fails. RestoreKey removes the link again.
inline void BreakKey(const std::string& path)
{
    RemoveTree(path);
    HKEY link = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                    REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                    nullptr, &link, nullptr);
    const std::wstring target = L"\\Registry\\Machine\\Software\\ZarnuTestsNowhere\\Key";
    RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                   reinterpret_cast<const BYTE*>(target.data()),
                   static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(link);
}

inline void RestoreKey(const std::string& path)
{
    HKEY link = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS,
                      &link) == ERROR_SUCCESS) {
        RegDeleteKeyA(link, "");
        RegCloseKey(link);
    }
}

} // namespace raw
