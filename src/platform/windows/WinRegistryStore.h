#pragma once

#include "platform/RegistryStore.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace oru {

/// One open registry key, closed when it goes.
class OpenRegistryKey {
public:
    OpenRegistryKey() = default;
    ~OpenRegistryKey()
    {
        if (key_) RegCloseKey(key_);
    }
    OpenRegistryKey(const OpenRegistryKey&) = delete;
    OpenRegistryKey& operator=(const OpenRegistryKey&) = delete;
    /// For RegOpenKeyExW and RegCreateKeyExW to fill in.
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

/// One registry value as Windows holds it: its type and its bytes.
struct RawRegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

/// What the driver makes of a registry value: a number from REG_DWORD (or a
/// REG_QWORD, whose low 32 bits count), a text from REG_SZ, REG_EXPAND_SZ (not
/// expanded) or REG_BINARY, each UTF-16 with its terminating NUL. Anything
/// else - another type, a number of more than 8 bytes, a text over
/// kMaxRegistryTextBytes, an odd byte count, no terminating NUL, a NUL inside,
/// an unpaired surrogate - gives nothing, and found says what the value holds.
std::optional<StoredValue> decodeRegistryValue(const RawRegistryValue& raw, std::string& found);

/// Longer texts are not settings the driver wrote (a calibration text is a
/// few digits, a placement text a few dozen).
inline constexpr std::size_t kMaxRegistryTextBytes = 64 * 1024;

/// The value name under key, read whole. Nothing when it doesn't exist;
/// error is then the Windows error code (ERROR_FILE_NOT_FOUND when missing).
std::optional<RawRegistryValue> readRawRegistryValue(HKEY key, const std::wstring& name, LSTATUS& error);

/// The per-user store in the registry: key paths below root (HKEY_CURRENT_USER
/// for the driver's settings), numbers as REG_DWORD (4 bytes, little-endian),
/// texts as REG_SZ in UTF-16 with one terminating NUL, through the
/// wide-character functions. Letter case of key and value names is Windows'
/// business (it ignores it and keeps the first spelling).
///
/// A value that can't be used (decodeRegistryValue, or a reader's complaint
/// through reportUnusableValue) is copied, type and bytes unchanged, to
/// "<name>.damaged-<UTC time>" in the same key before the next save replaces
/// it, and one line on stderr and the debugger's output says so.
///
/// beginUpdate holds the writes in memory; endUpdate(true) applies them in
/// order and, when one fails, puts back what the ones before it replaced
/// (values deleted or restored, keys it created removed). The registry has no
/// transaction a program can rely on (KTM transactions are deprecated), so a
/// process killed in the middle of those few calls may leave some of them
/// written. Main thread only.
class WinRegistryStore final : public RegistryStore {
public:
    /// rootName names root in messages ("HKEY_CURRENT_USER").
    explicit WinRegistryStore(HKEY root = HKEY_CURRENT_USER, std::string rootName = "HKEY_CURRENT_USER");

    KeyState keyState(const std::string& keyPath) override;
    std::optional<StoredValue> queryValue(const std::string& keyPath, const std::string& name) override;
    bool createKey(const std::string& keyPath) override;
    bool setValue(const std::string& keyPath, const std::string& name, const StoredValue& value) override;
    void beginUpdate() override;
    bool endUpdate(bool keep) override;
    void reportUnusableValue(const std::string& keyPath, const std::string& name, const std::string& found) override;

    /// The bytes setValue stores for value, and its registry type.
    static RawRegistryValue encode(const StoredValue& value);

private:
    struct HeldWrite {
        std::string keyPath;
        std::optional<std::string> name;  // nothing: createKey
        StoredValue value;
    };
    struct Undo {
        std::string keyPath;
        std::optional<std::string> name;          // nothing: delete the key keyPath
        std::optional<RawRegistryValue> before;   // nothing: the value did not exist
    };

    bool apply(const HeldWrite& write, std::vector<Undo>* undo);
    void rollBack(const std::vector<Undo>& undo);
    std::string where(const std::string& keyPath) const;
    void warn(const std::string& line);
    bool keepDamagedCopy(HKEY key, const std::string& name, std::string& copyName, std::string& error);
    /// Deletes the copies "<prefix>…" in key besides kept that hold content.
    static void dropOlderCopies(HKEY key, const std::wstring& prefix, const std::wstring& kept,
                                const RawRegistryValue& content);

    HKEY root_;
    std::string rootName_;
    bool updating_ = false;
    std::vector<HeldWrite> held_;
    // Values copied aside in this run (folded key path and name): once each.
    std::set<std::pair<std::string, std::string>> kept_;
    std::string lastWarning_;
};

} // namespace oru
