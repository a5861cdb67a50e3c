#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace oru {

/// Replay times are kept in microseconds; files give milliseconds with
/// optional decimals ("12", "12.125").
using ReplayMicros = std::int64_t;

inline constexpr int kMaxReplayReportBytes = 64;
/// The longest line a replay file may have, newline not counted: a recorded
/// report line is under 250 bytes, and reading stays within this much memory.
inline constexpr std::size_t kMaxReplayLineBytes = 4096;

/// Results of runReplay, and oru-replay's exit statuses.
inline constexpr int kReplayDone = 0;
inline constexpr int kReplayIoFailed = 1;  // the input could not be read or the output not written
inline constexpr int kReplayBadInput = 2;

struct ReplayScreen {
    int widthPx;
    int heightPx;
};
struct ReplayCalibration {
    std::array<std::string, 8> texts;
};
struct ReplayReport {
    ReplayMicros time;
    std::uint16_t size;
    std::array<std::uint8_t, kMaxReplayReportBytes> bytes;
};
struct ReplayBlank {};

using ReplayItem = std::variant<ReplayBlank, ReplayScreen, ReplayCalibration, ReplayReport>;

/// A line of a replay file that can't be read; what() names the problem.
class ReplaySyntaxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Parses one line (without its newline). Raises ReplaySyntaxError.
ReplayItem parseReplayLine(std::string_view line);

/// Milliseconds text for a replay time: "250", "12.5".
std::string formatReplayMillis(ReplayMicros time);

/// Runs a whole replay file through the pen pipeline and writes what the
/// mouse would do to out. Returns kReplayDone; kReplayBadInput after a one-line
/// message on err naming the line of a bad input; kReplayIoFailed, without a
/// message, as soon as in fails to read or out fails to write (the caller
/// knows the stream and the cause).
int runReplay(std::istream& in, std::ostream& out, std::ostream& err, bool printRaw);

} // namespace oru
