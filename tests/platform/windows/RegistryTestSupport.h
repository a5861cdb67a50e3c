#pragma once

// Keys of their own for each test row, removed again, and raw values written
// and read as Windows holds them.

#include "platform/windows/WinRegistryStore.h"

#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

namespace oru::test {

/// A key path below root that no other test (or run) uses; the tree is deleted
/// when the object goes.
class ScratchKey {
public:
    ScratchKey(HKEY root, const std::string& what)
        : root_(root),
          path_("Software\\oruDriverTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(next()) + "-" +
                what)
    {
        RegDeleteTreeW(root_, wide().c_str());
    }
    ~ScratchKey()
    {
        RegDeleteTreeW(root_, wide().c_str());
        RegDeleteKeyW(root_, wide().c_str());
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    const std::string& path() const { return path_; }
    std::wstring wide() const { return std::wstring(path_.begin(), path_.end()); }
    HKEY root() const { return root_; }

private:
    static int next()
    {
        static int count = 0;
        return ++count;
    }
    HKEY root_;
    std::string path_;
};

inline std::vector<BYTE> utf16Bytes(const std::wstring& text, bool terminated = true)
{
    std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(text.data()),
                            reinterpret_cast<const BYTE*>(text.data() + text.size()));
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

/// Writes one raw value, creating the key; false on failure.
inline bool writeRaw(HKEY root, const std::wstring& keyPath, const std::wstring& name, DWORD type,
                     const std::vector<BYTE>& bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status = RegSetValueExW(key, name.c_str(), 0, type, bytes.empty() ? nullptr : bytes.data(),
                                          static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

inline RawRegistryValue readRaw(HKEY root, const std::wstring& keyPath, const std::wstring& name)
{
    HKEY key = nullptr;
    RawRegistryValue raw{REG_NONE, {}};
    if (RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return raw;
    LSTATUS error = ERROR_SUCCESS;
    if (auto value = readRawRegistryValue(key, name, error)) raw = *value;
    RegCloseKey(key);
    return raw;
}

/// Sets the key's owner and access list from an SDDL text (its parts that are given).
inline bool setKeySecurity(HKEY root, const std::wstring& keyPath, const wchar_t* sddl, SECURITY_INFORMATION what)
{
    HKEY key = nullptr;
    // Only the rights an owner keeps whatever the access list says.
    if (RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, READ_CONTROL | WRITE_DAC | WRITE_OWNER, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = false;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        done = RegSetKeySecurity(key, what, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
    }
    RegCloseKey(key);
    return done;
}

} // namespace oru::test
