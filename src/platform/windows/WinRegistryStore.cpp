#include "platform/windows/WinRegistryStore.h"

#include "platform/windows/WideText.h"
#include "settings/StoreContents.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>

namespace oru {

namespace {

std::string folded(const std::string& text)
{
    std::string out = text;
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

bool isHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::string utcStamp()
{
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_s(&utc, &now) == 0) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return stamp;
}

std::optional<StoredValue> decodeText(const std::vector<BYTE>& bytes, std::string& found)
{
    if (bytes.size() > kMaxRegistryTextBytes) {
        found = "a text of " + std::to_string(bytes.size()) + " bytes, more than the " +
                std::to_string(kMaxRegistryTextBytes / 1024) + " KiB a setting can have";
        return std::nullopt;
    }
    if (bytes.size() % 2 != 0) {
        found = "a text of " + std::to_string(bytes.size()) + " bytes, which can't be UTF-16 characters";
        return std::nullopt;
    }
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty()) std::memcpy(text.data(), bytes.data(), bytes.size());
    if (text.empty() || text.back() != L'\0') {
        found = "a text without its terminating NUL";
        return std::nullopt;
    }
    // Some writers count two NULs at the end; both end the text.
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    if (text.find(L'\0') != std::wstring::npos) {
        found = "a text with a NUL inside";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i;
        } else if (isHighSurrogate(text[i]) || isLowSurrogate(text[i])) {
            found = "a text that is not valid UTF-16 (an unpaired surrogate)";
            return std::nullopt;
        }
    }
    return StoredValue::ofText(narrow(text));
}

std::string typeName(DWORD type)
{
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "registry type " + std::to_string(type);
    }
}

} // namespace

std::optional<StoredValue> decodeRegistryValue(const RawRegistryValue& raw, std::string& found)
{
    switch (raw.type) {
    case REG_DWORD:
    case REG_QWORD: {
        if (raw.bytes.empty() || raw.bytes.size() > 8) {
            found = "a " + typeName(raw.type) + " of " + std::to_string(raw.bytes.size()) + " bytes";
            return std::nullopt;
        }
        // Little-endian; the low 32 bits are the number.
        std::uint32_t low = 0;
        for (std::size_t i = 0; i < std::min<std::size_t>(raw.bytes.size(), 4); ++i) {
            low |= static_cast<std::uint32_t>(raw.bytes[i]) << (8 * i);
        }
        return StoredValue::ofNumber(static_cast<std::int32_t>(low));
    }
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_BINARY:
        return decodeText(raw.bytes, found);
    default:
        found = "a value of type " + typeName(raw.type) + ", which the driver never writes";
        return std::nullopt;
    }
}

std::optional<RawRegistryValue> readRawRegistryValue(HKEY key, const std::wstring& name, LSTATUS& error)
{
    RawRegistryValue raw;
    // The value may grow between the size query and the read: ask again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        error = RegQueryValueExW(key, name.c_str(), nullptr, &raw.type, nullptr, &size);
        if (error != ERROR_SUCCESS) return std::nullopt;
        raw.bytes.assign(size, 0);
        error = RegQueryValueExW(key, name.c_str(), nullptr, &raw.type, raw.bytes.empty() ? nullptr : raw.bytes.data(),
                                 &size);
        if (error == ERROR_MORE_DATA) continue;
        if (error != ERROR_SUCCESS) return std::nullopt;
        raw.bytes.resize(size);
        return raw;
    }
    return std::nullopt;
}

WinRegistryStore::WinRegistryStore(HKEY root, std::string rootName) : root_(root), rootName_(std::move(rootName)) {}

RawRegistryValue WinRegistryStore::encode(const StoredValue& value)
{
    RawRegistryValue raw;
    if (value.kind == StoredKind::Number) {
        raw.type = REG_DWORD;
        const auto bits = static_cast<std::uint32_t>(value.number);
        for (int i = 0; i < 4; ++i) raw.bytes.push_back(static_cast<BYTE>(bits >> (8 * i)));
        return raw;
    }
    raw.type = REG_SZ;
    const std::wstring text = widen(value.text);
    raw.bytes.resize((text.size() + 1) * sizeof(wchar_t), 0);
    std::memcpy(raw.bytes.data(), text.data(), text.size() * sizeof(wchar_t));
    return raw;
}

std::string WinRegistryStore::where(const std::string& keyPath) const
{
    return keyPath.empty() ? rootName_ : rootName_ + "\\" + keyPath;
}

void WinRegistryStore::warn(const std::string& line)
{
    // A value that stays unusable is met at every read; say it once.
    if (line == lastWarning_) return;
    lastWarning_ = line;
    diagnostic(line);
}

RegistryStore::KeyState WinRegistryStore::keyState(const std::string& keyPath)
{
    // A held write makes its key, and the keys above it, exist.
    for (const HeldWrite& write : held_) {
        if (sameStoreName(write.keyPath, keyPath)) return KeyState::Present;
        if (write.keyPath.size() > keyPath.size() && write.keyPath[keyPath.size()] == '\\' &&
            sameStoreName(std::string_view(write.keyPath).substr(0, keyPath.size()), keyPath)) {
            return KeyState::Present;
        }
    }
    OpenRegistryKey key;
    const LSTATUS status = RegOpenKeyExW(root_, widen(keyPath).c_str(), 0, KEY_READ, key.out());
    if (status == ERROR_SUCCESS) return KeyState::Present;
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return KeyState::Missing;
    warn("cannot open " + where(keyPath) + " for reading (" + windowsErrorText(status) +
         "); settings keep their defaults and are not saved over it. Give this user full control of the key "
         "(regedit, Permissions) or delete it");
    return KeyState::Unreadable;
}

std::optional<StoredValue> WinRegistryStore::queryValue(const std::string& keyPath, const std::string& name)
{
    for (auto write = held_.rbegin(); write != held_.rend(); ++write) {
        if (write->name && sameStoreName(write->keyPath, keyPath) && sameStoreName(*write->name, name)) {
            return write->value;
        }
    }
    OpenRegistryKey key;
    if (RegOpenKeyExW(root_, widen(keyPath).c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return std::nullopt;
    LSTATUS error = ERROR_SUCCESS;
    const auto raw = readRawRegistryValue(key.get(), widen(name), error);
    if (!raw) return std::nullopt;
    std::string found;
    auto value = decodeRegistryValue(*raw, found);
    if (!value) reportUnusableValue(keyPath, name, found);
    return value;
}

void WinRegistryStore::dropOlderCopies(HKEY key, const std::wstring& prefix, const std::wstring& kept,
                                       const RawRegistryValue& content)
{
    std::vector<std::wstring> same;
    std::wstring name(16384, L'\0');  // a value name's longest, with its NUL
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS status = RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        const std::wstring found = name.substr(0, length);
        if (found.size() <= prefix.size() ||
            CompareStringOrdinal(found.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                 static_cast<int>(prefix.size()), TRUE) != CSTR_EQUAL ||
            CompareStringOrdinal(found.c_str(), -1, kept.c_str(), -1, TRUE) == CSTR_EQUAL) {
            continue;
        }
        LSTATUS error = ERROR_SUCCESS;
        const auto copy = readRawRegistryValue(key, found, error);
        if (copy && copy->type == content.type && copy->bytes == content.bytes) same.push_back(found);
    }
    // Deleted after the walk: deleting during it would skip values.
    for (const std::wstring& old : same) RegDeleteValueW(key, old.c_str());
}

bool WinRegistryStore::keepDamagedCopy(HKEY key, const std::string& name, std::string& copyName,
                                       std::string& error)
{
    LSTATUS status = ERROR_SUCCESS;
    const auto raw = readRawRegistryValue(key, widen(name), status);
    if (!raw) {
        error = windowsErrorText(status);
        return false;
    }
    const std::string base = name + ".damaged-" + utcStamp();
    for (int attempt = 0; attempt < 100; ++attempt) {
        copyName = attempt == 0 ? base : base + "-" + std::to_string(attempt + 1);
        // Never replace an earlier copy kept in the same second.
        if (RegQueryValueExW(key, widen(copyName).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            continue;
        }
        status = RegSetValueExW(key, widen(copyName).c_str(), 0, raw->type, raw->bytes.data(),
                                static_cast<DWORD>(raw->bytes.size()));
        if (status == ERROR_SUCCESS) {
            // A value that stays damaged is met again at every start that
            // ends before a save: one copy of each content is enough, the newest.
            dropOlderCopies(key, widen(name + ".damaged-"), widen(copyName), *raw);
            return true;
        }
        error = windowsErrorText(status);
        return false;
    }
    error = "too many copies kept already";
    return false;
}

void WinRegistryStore::reportUnusableValue(const std::string& keyPath, const std::string& name,
                                           const std::string& found)
{
    // Said once per value and run: a restore may read it more than once.
    if (!kept_.emplace(folded(keyPath), folded(name)).second) return;
    std::string line = "value \"" + name + "\" of " + where(keyPath) + " holds " + found +
                       "; the default is used instead and the next save replaces it";
    {
        OpenRegistryKey key;
        std::string copyName;
        std::string error;
        const LSTATUS status =
            RegOpenKeyExW(root_, widen(keyPath).c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.out());
        if (status != ERROR_SUCCESS) {
            line += " (no copy of it could be kept: " + windowsErrorText(status) + ")";
        } else if (keepDamagedCopy(key.get(), name, copyName, error)) {
            line += " (it is kept as \"" + copyName + "\" in the same key)";
        } else {
            line += " (no copy of it could be kept: " + error + ")";
        }
    }
    warn(line);
}

bool WinRegistryStore::apply(const HeldWrite& write, std::vector<Undo>* undo)
{
    const std::wstring keyPath = widen(write.keyPath);
    if (!write.name) {
        // The first missing key on the path is what creating it adds.
        std::optional<std::string> added;
        if (undo) {
            for (std::size_t end = 0; end != std::string::npos && !added;) {
                end = write.keyPath.find('\\', end + 1);
                const std::string part = write.keyPath.substr(0, end);
                OpenRegistryKey probe;
                const LSTATUS found = RegOpenKeyExW(root_, widen(part).c_str(), 0, KEY_READ, probe.out());
                if (found == ERROR_FILE_NOT_FOUND || found == ERROR_PATH_NOT_FOUND) added = part;
            }
        }
        OpenRegistryKey key;
        DWORD disposition = 0;
        const LSTATUS status = RegCreateKeyExW(root_, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_READ | KEY_WRITE, nullptr, key.out(), &disposition);
        if (status != ERROR_SUCCESS) {
            warn("cannot create " + where(write.keyPath) + " (" + windowsErrorText(status) +
                 "); settings are not saved. Make sure this user may write to " + where("Software"));
            return false;
        }
        if (added) undo->push_back({*added, std::nullopt, std::nullopt});
        return true;
    }
    OpenRegistryKey key;
    LSTATUS status = RegOpenKeyExW(root_, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.out());
    if (status == ERROR_SUCCESS) {
        const std::wstring name = widen(*write.name);
        if (undo) {
            LSTATUS readError = ERROR_SUCCESS;
            undo->push_back({write.keyPath, *write.name, readRawRegistryValue(key.get(), name, readError)});
        }
        const RawRegistryValue raw = encode(write.value);
        status = RegSetValueExW(key.get(), name.c_str(), 0, raw.type, raw.bytes.data(),
                                static_cast<DWORD>(raw.bytes.size()));
        if (status == ERROR_SUCCESS) {
            lastWarning_.clear();
            return true;
        }
        if (undo) undo->pop_back();
    }
    // What to do depends on why: only a refusal is about permissions.
    std::string advice = "Give this user full control of the key (regedit, Permissions)";
    if (status == ERROR_KEY_DELETED || status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        advice = "The key was deleted while the driver wrote to it (regedit, another program); the next save "
                 "makes it again";
    } else if (status != ERROR_ACCESS_DENIED) {
        advice = "Check that the user's registry (NTUSER.DAT) is loaded and the disk has free space";
    }
    warn("cannot write \"" + *write.name + "\" in " + where(write.keyPath) + " (" + windowsErrorText(status) +
         "); settings are not saved. " + advice);
    return false;
}

void WinRegistryStore::rollBack(const std::vector<Undo>& undo)
{
    for (auto step = undo.rbegin(); step != undo.rend(); ++step) {
        if (!step->name) {
            // A key this update created; it holds only what the update put there.
            RegDeleteTreeW(root_, widen(step->keyPath).c_str());
            RegDeleteKeyW(root_, widen(step->keyPath).c_str());
            continue;
        }
        OpenRegistryKey key;
        if (RegOpenKeyExW(root_, widen(step->keyPath).c_str(), 0, KEY_SET_VALUE, key.out()) != ERROR_SUCCESS) continue;
        const std::wstring name = widen(*step->name);
        if (step->before) {
            RegSetValueExW(key.get(), name.c_str(), 0, step->before->type, step->before->bytes.data(),
                           static_cast<DWORD>(step->before->bytes.size()));
        } else {
            RegDeleteValueW(key.get(), name.c_str());
        }
    }
}

bool WinRegistryStore::createKey(const std::string& keyPath)
{
    HeldWrite write{keyPath, std::nullopt, {}};
    if (updating_) {
        held_.push_back(std::move(write));
        return true;
    }
    return apply(write, nullptr);
}

bool WinRegistryStore::setValue(const std::string& keyPath, const std::string& name, const StoredValue& value)
{
    HeldWrite write{keyPath, name, value};
    if (updating_) {
        held_.push_back(std::move(write));
        return true;
    }
    return apply(write, nullptr);
}

void WinRegistryStore::beginUpdate()
{
    updating_ = true;
    held_.clear();
}

bool WinRegistryStore::endUpdate(bool keep)
{
    updating_ = false;
    std::vector<HeldWrite> held = std::move(held_);
    held_.clear();
    if (!keep) return true;
    std::vector<Undo> undo;
    for (const HeldWrite& write : held) {
        if (!apply(write, &undo)) {
            rollBack(undo);
            return false;
        }
    }
    return true;
}

} // namespace oru
