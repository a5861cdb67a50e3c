#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace oru {

/// The two kinds of value the per-user store keeps.
enum class StoredKind { Number, Text };

/// One stored value: a 32-bit integer or a text (UTF-8 bytes, kept as they are).
struct StoredValue {
    StoredKind kind = StoredKind::Text;
    std::int32_t number = 0;
    std::string text;

    static StoredValue ofNumber(std::int32_t value) { return {StoredKind::Number, value, {}}; }
    static StoredValue ofText(std::string value) { return {StoredKind::Text, 0, std::move(value)}; }
    bool operator==(const StoredValue&) const = default;
};

/// The per-user key/value store the settings live in. Keys are paths below the
/// user's root with "\" between the parts ("Software\oruDriver"; "" is the root
/// itself); each key holds named values. Key paths and value names match without
/// regard to ASCII letter case and keep the case they were first written with.
/// Failures return false; the backend writes the cause and the fix to stderr.
class RegistryStore {
public:
    enum class KeyState {
        Missing,     // no such key
        Present,     // exists and can be read
        Unreadable,  // there is stored data, but it can't be opened for reading
    };

    virtual ~RegistryStore() = default;

    /// Whether a key exists at keyPath and can be opened for reading. A key
    /// exists when it, or a key below it, was created.
    virtual KeyState keyState(const std::string& keyPath) = 0;

    /// The value with its kind; nothing when the key or the value is missing or
    /// can't be read.
    virtual std::optional<StoredValue> queryValue(const std::string& keyPath, const std::string& name) = 0;

    /// Creates the key (and the keys above it). False when it can't be created.
    virtual bool createKey(const std::string& keyPath) = 0;

    /// Sets a value in an existing key, replacing any value of the same name
    /// whatever its kind. False when it can't be written.
    virtual bool setValue(const std::string& keyPath, const std::string& name, const StoredValue& value) = 0;

    /// Holds the writes that follow until endUpdate, so that they reach the
    /// store together or not at all.
    virtual void beginUpdate() = 0;

    /// Ends beginUpdate: writes everything held when keep is true, drops it
    /// otherwise. False when keep was true and the writes could not be stored;
    /// nothing of them is stored then.
    virtual bool endUpdate(bool keep) = 0;

    /// A reader found a value it can't use (found says what it is); the read
    /// falls back to its default. The backend tells the user and keeps the
    /// stored data safe from the next write.
    virtual void reportUnusableValue(const std::string& keyPath, const std::string& name,
                                     const std::string& found) = 0;
};

} // namespace oru
