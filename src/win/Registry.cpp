#include "win/Registry.h"

#include <vector>

namespace {

bool CreateKey(const std::string& path, UniqueHKey& key)
{
    return RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key.put(), nullptr) == ERROR_SUCCESS;
}

[[noreturn]] void RaiseForValue(const char* what, const std::string& name)
{
    throw ERegistryException(std::string(what) + " '" + name + "'");
}

// Removes `name` below `parent` and, before it, every subkey it holds, last index first.
bool RemoveTreeBelow(HKEY parent, const std::string& name)
{
    UniqueHKey key;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return false;

    DWORD subkeyCount = 0;
    DWORD longestSubkey = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeyCount, &longestSubkey,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        std::vector<char> subkey(longestSubkey + 1);
        for (DWORD index = subkeyCount; index-- > 0;) {
            DWORD length = static_cast<DWORD>(subkey.size());
            if (RegEnumKeyExA(key.get(), index, subkey.data(), &length, nullptr, nullptr, nullptr,
                              nullptr) == ERROR_SUCCESS)
                RemoveTreeBelow(key.get(), std::string(subkey.data(), length));
        }
    }
    key.reset();
    return RegDeleteKeyA(parent, name.c_str()) == ERROR_SUCCESS;
}

// A value's type and bytes through the ANSI or the wide query; nullopt when it is missing.
template <typename Char, typename Query>
std::optional<RegistryValue> QueryValue(HKEY key, const Char* name, Query query, const std::string& shownName)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (query(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value{type, std::string(size, '\0')};
    if (size > 0 && query(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data.data()), &size) !=
                        ERROR_SUCCESS)
        RaiseForValue("Failed to get data for", shownName);
    value.type = type;
    value.data.resize(size);
    return value;
}

template <typename Char, typename Set>
bool SetValue(HKEY key, const Char* name, Set set, const RegistryValue& value)
{
    return set(key, name, 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
               static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

} // namespace

bool TRegistry::OpenUserKey(const std::string& path)
{
    current_.reset();
    return CreateKey(path, current_);
}

bool TRegistry::OpenExistingUserKey(const std::string& path)
{
    current_.reset();
    return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, current_.put()) ==
           ERROR_SUCCESS;
}

void TRegistry::CreateUserKey(const std::string& path)
{
    UniqueHKey created;
    if (!CreateKey(path, created))
        throw ERegistryException("Failed to create key " + path);
}

void TRegistry::StoreNumber(const std::string& name, DWORD value)
{
    StoreValue(name, DwordValue(value));
}

void TRegistry::StoreText(const std::string& name, const std::string& text)
{
    StoreValue(name, RegistryValue{REG_SZ, std::string(text.c_str(), text.size() + 1)});
}

std::string TRegistry::LoadText(const std::string& name)
{
    const std::optional<RegistryValue> value = LoadValue(name);
    if (!value)
        return {};
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ)
        RaiseForValue("Invalid data type for", name);
    return value->data.substr(0, value->data.find('\0'));
}

std::optional<RegistryValue> TRegistry::LoadValue(const std::string& name)
{
    return current_ ? QueryValue(current_.get(), name.c_str(), &RegQueryValueExA, name) : std::nullopt;
}

void TRegistry::StoreValue(const std::string& name, const RegistryValue& value)
{
    if (!current_ || !SetValue(current_.get(), name.c_str(), &RegSetValueExA, value))
        RaiseForValue("Failed to set data for", name);
}

std::optional<RegistryValue> TRegistry::LoadWideValue(const std::string& name)
{
    const std::wstring wideName(name.begin(), name.end());
    return current_ ? QueryValue(current_.get(), wideName.c_str(), &RegQueryValueExW, name) : std::nullopt;
}

void TRegistry::StoreWideValue(const std::string& name, const RegistryValue& value)
{
    const std::wstring wideName(name.begin(), name.end());
    if (!current_ || !SetValue(current_.get(), wideName.c_str(), &RegSetValueExW, value))
        RaiseForValue("Failed to set data for", name);
}

bool TRegistry::RemoveKeyTree(const std::string& name)
{
    return current_ && RemoveTreeBelow(current_.get(), name);
}

bool TRegistry::RemoveValue(const std::string& name)
{
    return current_ && RegDeleteValueA(current_.get(), name.c_str()) == ERROR_SUCCESS;
}

void TRegistry::DeleteValue(const std::string& name)
{
    if (!RemoveValue(name) && LoadValue(name))
        RaiseForValue("Failed to delete data for", name);
}
