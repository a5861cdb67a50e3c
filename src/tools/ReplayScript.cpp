#include "tools/ReplayScript.h"

#include "common/CommandLine.h"

#include "app/MainFormState.h"
#include "app/StoredCalibration.h"
#include "common/ArithmeticError.h"
#include "pen/PenPipeline.h"
#include "platform/PointerOutput.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <istream>
#include <ostream>
#include <vector>

namespace oru {

namespace {

constexpr ReplayMicros kMicrosPerMs = 1000;
constexpr ReplayMicros kDrainAfterEndUs = 1000 * kMicrosPerMs;

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

int parsePositiveInt(std::string_view word, const char* what)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size() || value <= 0 || value > 100000) {
        throw ReplaySyntaxError(std::string("bad ") + what + " '" + printableExcerpt(word) + "'");
    }
    return value;
}

ReplayMicros parseMillis(std::string_view word)
{
    const auto bad = [&] { return ReplaySyntaxError("bad time '" + printableExcerpt(word) + "'"); };
    const std::size_t dot = word.find('.');
    const std::string_view whole = word.substr(0, dot);
    std::int64_t ms = 0;
    const auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), ms);
    if (whole.empty() || ec != std::errc() || end != whole.data() + whole.size() || ms < 0 ||
        ms > 1'000'000'000'000LL) {
        throw bad();
    }
    ReplayMicros micros = ms * kMicrosPerMs;
    if (dot != std::string_view::npos) {
        const std::string_view fraction = word.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 3) throw bad();
        ReplayMicros scale = 100;
        for (char c : fraction) {
            if (c < '0' || c > '9') throw bad();
            micros += (c - '0') * scale;
            scale /= 10;
        }
    }
    return micros;
}

std::uint8_t parseHexByte(std::string_view word)
{
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
    if (word.empty() || word.size() > 2 || ec != std::errc() || end != word.data() + word.size()) {
        throw ReplaySyntaxError("bad hex byte '" + printableExcerpt(word) + "'");
    }
    return static_cast<std::uint8_t>(value);
}

// Everything the replay prints goes through one clock, so the program's
// timing is reproduced exactly: the 10 ms pause after a press moves it on,
// the watchdog is given the times its ticks fall due.
class ReplayMachine final : public PointerOutput {
public:
    // The main window's creation, at time 0, starts the watchdog.
    ReplayMachine(std::ostream& out, bool printRaw) : out_(out), printRaw_(printRaw), pipeline_(state_, *this, PenTime{0})
    {
        state_.InsetRatio = kInsetRatio;
    }

    void setScreen(ReplayScreen screen) { screen_ = screen; }

    // The display changed between two reports: at the replay clock, right
    // after the last report's handling, the driver releases what the pen
    // holds and fits the stored calibration for the new size.
    void changeScreen(ReplayScreen screen)
    {
        screen_ = screen;
        try {
            refitForScreen(pipeline_, state_, texts_, screen_.widthPx, screen_.heightPx);
        } catch (const std::exception& error) {
            printError(error.what());
        }
    }
    void setCalibration(const ReplayCalibration& calibration) { texts_ = calibration.texts; }
    bool shown() const { return shown_; }

    // The main window's first show: fit the stored calibration, or stay
    // uncalibrated (the program would calibrate here; a replay cannot).
    void firstShow()
    {
        shown_ = true;
        try {
            applyStoredCalibration(state_, texts_, screen_.widthPx, screen_.heightPx);
        } catch (const std::exception& error) {
            printError(error.what());
        }
    }

    void handle(const ReplayReport& report)
    {
        if (report.time < lastReportTime_) throw ReplaySyntaxError("time goes backwards");
        lastReportTime_ = report.time;
        const ReplayMicros handledAt = std::max(report.time, clock_);
        runTicksUpTo(handledAt);
        clock_ = handledAt;
        try {
            const BoardPoint board = pipeline_.decode(report.bytes.data(), report.size);
            if (printRaw_) {
                out_ << formatReplayMillis(clock_) << " raw " << state_.PenState << ' ' << state_.RawX << ' '
                     << state_.RawY << '\n';
            }
            pipeline_.mapAndDrive(board, PenTime{clock_});
        } catch (const std::exception& error) {
            printError(error.what());
        }
    }

    void finish() { runTicksUpTo(clock_ + kDrainAfterEndUs); }

    void setCursorPos(int xPx, int yPx) override { print("cursor", xPx, yPx); }
    void mouseEvent(MouseButtonEvent event, int dx, int dy) override
    {
        switch (event) {
        case MouseButtonEvent::LeftDown: print("down left", dx, dy); break;
        case MouseButtonEvent::LeftUp: print("up left", dx, dy); break;
        case MouseButtonEvent::RightDown: print("down right", dx, dy); break;
        case MouseButtonEvent::RightUp: print("up right", dx, dy); break;
        }
    }
    void pause(int ms) override
    {
        out_ << formatReplayMillis(clock_) << " sleep " << ms << '\n';
        clock_ += ms * kMicrosPerMs;
    }

private:
    void runTicksUpTo(ReplayMicros time)
    {
        // A tick shows only when it releases a button, and then at the time
        // it fell due; the ticks after it up to this time find nothing held.
        if (const PenTime release = pipeline_.releaseDue(); release <= PenTime{time}) {
            clock_ = std::max(clock_, static_cast<ReplayMicros>(release.count()));
            pipeline_.tick(release);
        }
        pipeline_.tick(PenTime{time});
    }
    void print(const char* what, int x, int y)
    {
        out_ << formatReplayMillis(clock_) << ' ' << what << ' ' << x << ' ' << y << '\n';
    }
    void printError(const char* text) { out_ << formatReplayMillis(clock_) << " error " << text << '\n'; }

    std::ostream& out_;
    bool printRaw_;
    TMainFormState state_;
    PenPipeline pipeline_;
    ReplayScreen screen_{1920, 1080};
    CalibrationTexts texts_{"0", "0", "0", "0", "0", "0", "0", "0"};
    bool shown_ = false;
    ReplayMicros clock_ = 0;
    ReplayMicros lastReportTime_ = 0;
};

} // namespace

std::string formatReplayMillis(ReplayMicros time)
{
    std::string text = std::to_string(time / kMicrosPerMs);
    if (const ReplayMicros fraction = time % kMicrosPerMs) {
        std::string digits = std::to_string(kMicrosPerMs + fraction).substr(1);
        while (digits.back() == '0') digits.pop_back();
        text += '.' + digits;
    }
    return text;
}

ReplayItem parseReplayLine(std::string_view line)
{
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    const auto words = splitWords(line);
    if (words.empty()) return ReplayBlank{};

    const std::string_view keyword = words[0];
    if (keyword == "screen") {
        if (words.size() != 3) throw ReplaySyntaxError("'screen' takes a width and a height");
        return ReplayScreen{parsePositiveInt(words[1], "width"), parsePositiveInt(words[2], "height")};
    }
    if (keyword == "calibration") {
        if (words.size() != 9) {
            throw ReplaySyntaxError("'calibration' takes 8 texts, got " + std::to_string(words.size() - 1));
        }
        ReplayCalibration calibration;
        for (int i = 0; i < 8; ++i) calibration.texts[i] = std::string(words[i + 1]);
        return calibration;
    }
    if (keyword == "report") {
        if (words.size() < 2) throw ReplaySyntaxError("'report' needs a time");
        if (words.size() - 2 > kMaxReplayReportBytes) {
            throw ReplaySyntaxError("a report has at most " + std::to_string(kMaxReplayReportBytes) + " bytes");
        }
        ReplayReport report{parseMillis(words[1]), static_cast<std::uint16_t>(words.size() - 2), {}};
        for (std::size_t i = 2; i < words.size(); ++i) report.bytes[i - 2] = parseHexByte(words[i]);
        return report;
    }
    throw ReplaySyntaxError("unknown word '" + printableExcerpt(keyword) + "'");
}

int runReplay(std::istream& in, std::ostream& out, std::ostream& err, bool printRaw)
{
    ReplayMachine machine(out, printRaw);
    // One line at a time in a fixed buffer: a line without end can't take more.
    std::array<char, kMaxReplayLineBytes + 1> buffer{};
    long lineNumber = 0;
    try {
        while (in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
            ++lineNumber;
            // gcount counts the newline when one was taken; the last line may have none.
            const auto taken = static_cast<std::size_t>(in.gcount());
            const std::size_t length = in.eof() ? taken : taken - 1;
            const ReplayItem item = parseReplayLine(std::string_view(buffer.data(), length));
            if (const auto* screen = std::get_if<ReplayScreen>(&item)) {
                if (machine.shown()) {
                    machine.changeScreen(*screen);
                } else {
                    machine.setScreen(*screen);
                }
            } else if (const auto* calibration = std::get_if<ReplayCalibration>(&item)) {
                if (machine.shown()) throw ReplaySyntaxError("'calibration' must come before the first report");
                machine.setCalibration(*calibration);
            } else if (const auto* report = std::get_if<ReplayReport>(&item)) {
                if (!machine.shown()) machine.firstShow();
                machine.handle(*report);
            }
            // A reader that went away (EPIPE with SIGPIPE ignored) or a full disk:
            // nothing more can reach anyone.
            if (!out) return kReplayIoFailed;
            if (in.eof()) break;
        }
        if (in.bad()) return kReplayIoFailed;
        if (in.fail() && !in.eof()) {
            ++lineNumber;
            throw ReplaySyntaxError("longer than the " + std::to_string(kMaxReplayLineBytes) +
                                    " bytes a line may have");
        }
    } catch (const ReplaySyntaxError& error) {
        if (!out.flush()) return kReplayIoFailed;
        err << "line " << lineNumber << ": " << error.what() << '\n';
        return kReplayBadInput;
    }
    if (!machine.shown()) machine.firstShow();
    machine.finish();
    return out.flush() ? kReplayDone : kReplayIoFailed;
}

} // namespace oru
