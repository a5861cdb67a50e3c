#include "settings/StoreContents.h"

#include "common/ArithmeticError.h"
#include "common/FloatMath.h"

#include <algorithm>

namespace oru {

namespace {

constexpr char kKindNumber[] = "int";
constexpr char kKindText[] = "text";

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool needsEscape(unsigned char c)
{
    return c < 0x20 || c == 0x7F || c == '"' || c == '\\';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string quoted(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!needsEscape(c)) {
            out += ch;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    out += '"';
    return out;
}

// Reads one line's parts from left to right; every failure says what was expected.
class LineReader {
public:
    explicit LineReader(std::string_view line) : line_(line) {}

    void skipBlanks()
    {
        while (pos_ < line_.size() && isBlank(line_[pos_])) ++pos_;
    }
    bool atEnd()
    {
        skipBlanks();
        return pos_ == line_.size();
    }
    bool take(char c)
    {
        skipBlanks();
        if (pos_ < line_.size() && line_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::string word()
    {
        skipBlanks();
        const std::size_t from = pos_;
        while (pos_ < line_.size() && !isBlank(line_[pos_]) && line_[pos_] != '"') ++pos_;
        return std::string(line_.substr(from, pos_ - from));
    }
    // A quoted text; sets problem and returns nothing when it is malformed.
    std::optional<std::string> quotedText(std::string& problem)
    {
        if (!take('"')) {
            problem = "a quoted text was expected";
            return std::nullopt;
        }
        std::string out;
        while (pos_ < line_.size()) {
            const char c = line_[pos_++];
            if (c == '"') return out;
            if (needsEscape(static_cast<unsigned char>(c))) {
                if (c != '\\') {
                    problem = "a control character inside quotes must be written as \\xHH";
                    return std::nullopt;
                }
                if (pos_ == line_.size()) break;
                const char e = line_[pos_++];
                switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'x': {
                    const int high = pos_ < line_.size() ? hexDigit(line_[pos_]) : -1;
                    const int low = pos_ + 1 < line_.size() ? hexDigit(line_[pos_ + 1]) : -1;
                    if (high < 0 || low < 0) {
                        problem = "\\x must be followed by two hex digits";
                        return std::nullopt;
                    }
                    out += static_cast<char>(high * 16 + low);
                    pos_ += 2;
                    break;
                }
                default: problem = std::string("unknown escape \\") + e; return std::nullopt;
                }
                continue;
            }
            out += c;
        }
        problem = "a quoted text is not closed";
        return std::nullopt;
    }

private:
    std::string_view line_;
    std::size_t pos_ = 0;
};

} // namespace

bool sameStoreName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Length and the range of the second byte, which rules out overlong
        // forms (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < 0x80 || next > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

bool StoreContents::canHoldKeyPath(std::string_view path)
{
    return std::none_of(path.begin(), path.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::optional<StoreContents> StoreContents::parse(std::string_view text, std::string& problem)
{
    auto fail = [&](const std::string& why) -> std::optional<StoreContents> {
        problem = why;
        return std::nullopt;
    };
    auto damaged = [&](std::size_t lineNo, const std::string& why) {
        return fail("line " + std::to_string(lineNo) + ": " + why);
    };

    if (text.empty()) return fail("the file is empty");
    if (text.find('\0') != std::string_view::npos) return fail("the file holds binary data (NUL bytes)");
    if (text.back() != '\n') return fail("the last line is cut short (no line end)");

    constexpr std::size_t kNoKey = static_cast<std::size_t>(-1);
    StoreContents contents;
    std::size_t current = kNoKey;
    std::size_t lineNo = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        std::string_view line = text.substr(from, end - from);
        from = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        LineReader reader(line);
        if (reader.atEnd()) continue;
        const std::size_t firstNonBlank = line.find_first_not_of(" \t");
        if (line[firstNonBlank] == '#') continue;

        if (line[firstNonBlank] == '[') {
            const std::size_t close = line.find_last_of(']');
            const std::size_t lastNonBlank = line.find_last_not_of(" \t");
            if (close == std::string_view::npos || close != lastNonBlank) return damaged(lineNo, "a key line must end in \"]\"");
            const std::string_view path = line.substr(firstNonBlank + 1, close - firstNonBlank - 1);
            if (!canHoldKeyPath(path)) return damaged(lineNo, "a key path holds a control character");
            if (contents.findKey(path)) return damaged(lineNo, "key [" + std::string(path) + "] appears twice");
            current = contents.addKey(path);
            continue;
        }

        if (line[firstNonBlank] != '"') return damaged(lineNo, "not a [key], # comment or \"name\" = value line");
        const auto name = reader.quotedText(problem);
        if (!name) return damaged(lineNo, problem);
        if (current == kNoKey) return damaged(lineNo, "a value comes before the first [key] line");
        if (!reader.take('=')) return damaged(lineNo, "\"=\" is missing after the value name");
        const std::string kind = reader.word();
        StoredValue value;
        if (kind == kKindNumber) {
            const std::string digits = reader.word();
            try {
                value = StoredValue::ofNumber(textToInt(digits));
            } catch (const EConvertError&) {
                return damaged(lineNo, "\"" + digits + "\" is not a 32-bit integer");
            }
        } else if (kind == kKindText) {
            const auto text = reader.quotedText(problem);
            if (!text) return damaged(lineNo, problem);
            value = StoredValue::ofText(*text);
        } else {
            return damaged(lineNo, "unknown value kind \"" + kind + "\" (int and text are known)");
        }
        if (!reader.atEnd()) return damaged(lineNo, "unexpected characters after the value");
        auto& values = contents.keys_[current].values;
        if (!contents.valueIndex_[current].try_emplace(*name, values.size()).second) {
            return damaged(lineNo, "value " + quoted(*name) + " appears twice");
        }
        values.emplace_back(*name, std::move(value));
    }
    return contents;
}

std::string StoreContents::format() const
{
    std::string out =
        "# oruDriver per-user settings, rewritten whole on every save. Edit only while the driver\n"
        "# is not running. [key] lines start a key; value lines read \"name\" = int <number> or\n"
        "# \"name\" = text \"<text>\", with \\\" \\\\ \\n \\r \\t \\xHH inside quotes.\n";
    for (const Key& key : keys_) {
        out += "\n[" + key.path + "]\n";
        for (const auto& [name, value] : key.values) {
            out += quoted(name);
            if (value.kind == StoredKind::Number) {
                out += " = " + std::string(kKindNumber) + " " + intToText(value.number) + "\n";
            } else {
                out += " = " + std::string(kKindText) + " " + quoted(value.text) + "\n";
            }
        }
    }
    return out;
}

bool StoreContents::FoldedLess::operator()(std::string_view a, std::string_view b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(lowerAscii(x)) < static_cast<unsigned char>(lowerAscii(y));
    });
}

std::size_t StoreContents::addKey(std::string_view path)
{
    keyIndex_.emplace(std::string(path), keys_.size());
    keys_.push_back(Key{std::string(path), {}});
    valueIndex_.emplace_back();
    return keys_.size() - 1;
}

StoreContents::Key* StoreContents::findKey(std::string_view path)
{
    const auto found = keyIndex_.find(path);
    return found == keyIndex_.end() ? nullptr : &keys_[found->second];
}

const StoreContents::Key* StoreContents::findKey(std::string_view path) const
{
    return const_cast<StoreContents*>(this)->findKey(path);
}

bool StoreContents::keyExists(std::string_view path) const
{
    if (path.empty() || keyIndex_.find(path) != keyIndex_.end()) return true;
    // Keys below path sort right after path + "\", the same prefix in the same order.
    const std::string below = std::string(path) + '\\';
    const auto next = keyIndex_.lower_bound(below);
    return next != keyIndex_.end() && next->first.size() >= below.size() &&
           sameStoreName(std::string_view(next->first).substr(0, below.size()), below);
}

const StoredValue* StoreContents::findValue(std::size_t keyIndex, std::string_view name) const
{
    const NameIndex& values = valueIndex_[keyIndex];
    const auto found = values.find(name);
    return found == values.end() ? nullptr : &keys_[keyIndex].values[found->second].second;
}

const StoredValue* StoreContents::value(std::string_view keyPath, std::string_view name) const
{
    const auto key = keyIndex_.find(keyPath);
    return key == keyIndex_.end() ? nullptr : findValue(key->second, name);
}

bool StoreContents::createKey(std::string_view path)
{
    if (findKey(path)) return false;
    addKey(path);
    return true;
}

bool StoreContents::setValue(std::string_view keyPath, std::string_view name, const StoredValue& value)
{
    const auto key = keyIndex_.find(keyPath);
    const std::size_t keyIndex = key == keyIndex_.end() ? addKey(keyPath) : key->second;
    auto& values = keys_[keyIndex].values;
    const auto [slot, added] = valueIndex_[keyIndex].try_emplace(std::string(name), values.size());
    if (added) {
        values.emplace_back(std::string(name), value);
        return true;
    }
    StoredValue& stored = values[slot->second].second;
    if (stored == value) return false;
    stored = value;
    return true;
}

} // namespace oru
