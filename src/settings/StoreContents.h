#pragma once

#include "platform/RegistryStore.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oru {

/// The keys and values of the per-user store file, in file order, with the
/// file's text form.
///
/// The file is plain text, one item per line, meant to be read and, while the
/// driver is not running, edited by hand:
///
///     # oruDriver per-user settings ...
///     [Software\oruDriver]
///     "FormVersion" = int 0
///     "Edit1_Text" = text "1234"
///
/// - Every line ends in a newline ("\r\n" is taken too). A last line without
///   one means the file was cut short.
/// - Blank lines, and lines whose first non-blank character is "#", are ignored.
/// - "[" key path "]" starts a key: everything between the first "[" and the
///   last "]" is the path, "\" between its parts; "[]" is the root key.
/// - A value line is a quoted value name, "=", and either "int" with a decimal
///   32-bit signed integer or "text" with a quoted text. Blanks may surround
///   each part.
/// - Inside quotes, \" \\ \n \r \t and \xHH (two hex digits) stand for one byte
///   each; other bytes below 0x20, and 0x7F, must be written that way. Bytes from
///   0x80 up are taken as they are (texts are UTF-8).
/// - Key paths and value names match without regard to ASCII letter case.
/// Anything else - another kind word, a number beyond 32 bits, a value before
/// the first key, a key or value named twice, a NUL byte - makes the file damaged.
class StoreContents {
public:
    struct Key {
        std::string path;
        std::vector<std::pair<std::string, StoredValue>> values;
    };

    /// Reads the text form. A damaged text gives nothing, and problem says what
    /// was wrong, with its line number.
    static std::optional<StoreContents> parse(std::string_view text, std::string& problem);
    /// The text form, with a short header that explains it.
    std::string format() const;

    /// Whether a key path can be written to the file (no control characters).
    static bool canHoldKeyPath(std::string_view path);

    bool empty() const { return keys_.empty(); }
    const std::vector<Key>& keys() const { return keys_; }

    /// The root key, a stored key, or a key above a stored one.
    bool keyExists(std::string_view path) const;
    const StoredValue* value(std::string_view keyPath, std::string_view name) const;

    /// Both return whether anything changed.
    bool createKey(std::string_view path);
    /// The key must exist (createKey); a value of the same name is replaced and
    /// keeps its place and spelling.
    bool setValue(std::string_view keyPath, std::string_view name, const StoredValue& value);

private:
    /// Orders names as the store matches them: ASCII letter case folded.
    struct FoldedLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    // Name -> index into keys_ or into one key's values. A store file may hold
    // up to 1 MiB of names (about 100,000), so lookups must not walk the list.
    using NameIndex = std::map<std::string, std::size_t, FoldedLess>;

    Key* findKey(std::string_view path);
    const Key* findKey(std::string_view path) const;
    std::size_t addKey(std::string_view path);
    const StoredValue* findValue(std::size_t keyIndex, std::string_view name) const;

    std::vector<Key> keys_;      // file order, which a save keeps
    NameIndex keyIndex_;
    std::vector<NameIndex> valueIndex_;  // parallel to keys_
};

/// ASCII letter case is ignored, as the store's names are.
bool sameStoreName(std::string_view a, std::string_view b);

/// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code
/// points above U+10FFFF), which the settings layer takes without change.
bool isValidUtf8(std::string_view text);

} // namespace oru
