#pragma once
// Access to the current user's registry hive. Every action creates its own TRegistry, opens one
// key and reads, writes or deletes in it; the key is closed when the object goes.

#include "core/RegistryValue.h"
#include "win/UniqueHandle.h"

#include <optional>

#include <stdexcept>
#include <string>

// Raised by TRegistry. The message names the key path or value name that failed.
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TRegistry {
public:
    // Opens `path` below HKEY_CURRENT_USER with full access, creating it and its missing parents.
    // true: the key is now the current one. false: no key is current (an earlier one is closed).
    bool OpenUserKey(const std::string& path);

    // Opens `path` only when it exists already; creates nothing. Same result as OpenUserKey.
    bool OpenExistingUserKey(const std::string& path);

    // The callers' way to reach a key: OpenUserKey, and CreateUserKey only when that fails.
    // Raises what CreateUserKey raises; no key is current then.
    void OpenOrCreateUserKey(const std::string& path)
    {
        if (!OpenUserKey(path))
            CreateUserKey(path);
    }

    // Creates `path` and its missing parents and closes the new key at once; the current key stays.
    // Raises "Failed to create key <path>".
    void CreateUserKey(const std::string& path);

    // Store a REG_DWORD / a REG_SZ (with its terminating zero) in the current key.
    // Raise "Failed to set data for '<name>'", also when no key is current.
    void StoreNumber(const std::string& name, DWORD value);
    void StoreText(const std::string& name, const std::string& text);

    // A REG_SZ or REG_EXPAND_SZ value (not expanded), up to its first zero byte. A missing or
    // empty value, or no current key, gives empty text. Raises "Invalid data type for '<name>'"
    // for any other type and "Failed to get data for '<name>'" when the data cannot be read.
    std::string LoadText(const std::string& name);

    // A value of any type with its bytes as stored; nullopt when it is missing or no key is
    // current. Raises "Failed to get data for '<name>'" when the data cannot be read.
    std::optional<RegistryValue> LoadValue(const std::string& name);
    // Stores `value` with its own type and bytes. Raises "Failed to set data for '<name>'".
    void StoreValue(const std::string& name, const RegistryValue& value);
    // The same two through the platform's wide calls: a string value's bytes are its text in the
    // wide form, whatever characters it holds. `name` is plain ASCII.
    std::optional<RegistryValue> LoadWideValue(const std::string& name);
    void StoreWideValue(const std::string& name, const RegistryValue& value);

    // Deletes the subkey `name` of the current key with everything below it, deepest first.
    // true when it was deleted; false, without an error, when it is missing or stays. A subkey
    // that cannot be enumerated is skipped.
    bool RemoveKeyTree(const std::string& name);

    // Deletes one value of the current key. false, without an error, when there was none to delete.
    bool RemoveValue(const std::string& name);
    // The same, but a value that exists and stays raises "Failed to delete data for '<name>'".
    void DeleteValue(const std::string& name);

private:
    UniqueHKey current_;
};
