#include "settings/CustomAppStorage.h"

#include <algorithm>

namespace oru {

namespace {

constexpr char kSeparator = '\\';

bool onlyDots(const std::string& segment)
{
    return std::all_of(segment.begin(), segment.end(), [](char c) { return c == '.'; });
}

bool blank(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

} // namespace

std::string JoinPath(const std::vector<std::string>& pieces)
{
    if (pieces.empty()) return {};

    // A later piece that starts at the top restarts the path; the first piece
    // never needs the test since everything starts there anyway.
    std::size_t start = 0;
    for (std::size_t i = pieces.size() - 1; i >= 1; --i) {
        if (!pieces[i].empty() && pieces[i].front() == kSeparator) {
            start = i;
            break;
        }
    }

    std::vector<std::string> segments;
    for (std::size_t i = start; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        std::size_t from = 0;
        while (true) {
            const std::size_t to = piece.find(kSeparator, from);
            std::string segment = piece.substr(from, to == std::string::npos ? std::string::npos : to - from);
            if (onlyDots(segment)) {
                // "" and "." stay put, ".." goes up one, "..." two, and so on.
                std::size_t up = segment.empty() ? 0 : segment.size() - 1;
                up = std::min(up, segments.size());
                segments.resize(segments.size() - up);
            } else {
                segments.push_back(std::move(segment));
            }
            if (to == std::string::npos) break;
            from = to + 1;
        }
    }

    std::string joined;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) joined += kSeparator;
        joined += segments[i];
    }
    return blank(joined) ? std::string() : joined;
}

void TCustomAppStorage::setRoot(const std::string& root)
{
    root_ = root == kNoRoot ? std::string() : JoinPath({root});
}

TStoragePath TCustomAppStorage::valuePath(const std::string& path) const
{
    std::string full = root_ + kSeparator + JoinPath({std::string(), path});
    full.erase(0, full.find_first_not_of(kSeparator));
    const std::size_t last = full.rfind(kSeparator);
    if (last == std::string::npos) return {std::string(), full};
    return {full.substr(0, last), full.substr(last + 1)};
}

bool TCustomAppStorage::HasValue(const std::string& path)
{
    return DoHasValue(valuePath(path));
}

bool TCustomAppStorage::HasKey(const std::string& path)
{
    const TStoragePath where = valuePath(path);
    return DoHasKey(where.key.empty() ? where.name : where.key + kSeparator + where.name);
}

std::int32_t TCustomAppStorage::ReadNumber(const std::string& path, std::int32_t defaultValue)
{
    // A read that fails in any way gives the caller's default, without a message.
    try {
        const TStoragePath where = valuePath(path);
        if (!DoHasValue(where)) return defaultValue;
        return DoReadNumber(where, defaultValue);
    } catch (const std::exception&) {
        return defaultValue;
    }
}

std::string TCustomAppStorage::ReadText(const std::string& path, const std::string& defaultValue)
{
    try {
        const TStoragePath where = valuePath(path);
        if (!DoHasValue(where)) return defaultValue;
        return DoReadText(where, defaultValue);
    } catch (const std::exception&) {
        return defaultValue;
    }
}

void TCustomAppStorage::WriteNumber(const std::string& path, std::int32_t value)
{
    if (ReadOnly) return;
    DoWriteNumber(valuePath(path), value);
}

void TCustomAppStorage::WriteText(const std::string& path, const std::string& value)
{
    if (ReadOnly) return;
    DoWriteText(valuePath(path), value);
}

void TCustomAppStorage::BeginUpdate()
{
    if (updateDepth_++ == 0) DoBeginUpdate();
}

void TCustomAppStorage::EndUpdate(bool keep)
{
    if (updateDepth_ == 0) return;
    if (--updateDepth_ == 0) DoEndUpdate(keep);
}

} // namespace oru
