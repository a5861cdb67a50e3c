#include "tools/ReplayScript.h"

#include <gtest/gtest.h>

#ifdef ORU_REPLAY_PROGRAM
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace oru {
namespace {

// A 1000x1000 screen whose inset corners the pen saw mirrored below the
// receivers: the warp is (x, y) -> (x, -y), so the cursor shows the board point.
const std::string kMirrorSetup = "screen 1000 1000\ncalibration 100 -100 900 -100 100 -900 900 -900\n";
// Tip down / hovering at distances 500/500: board (317.03, -386.64).
const std::string kTipAt317 = "41 01 F5 F5";

struct ReplayResult {
    int exitCode;
    std::string out;
    std::string err;
};

ReplayResult replay(const std::string& script, bool raw = false)
{
    std::istringstream in(script);
    std::ostringstream out;
    std::ostringstream err;
    const int exitCode = runReplay(in, out, err, raw);
    return {exitCode, out.str(), err.str()};
}

TEST(Replay, CalibratedDownDragUp)
{
    const auto result = replay(kMirrorSetup +
                               "report 0 " + kTipAt317 + "\n"
                               "report 5 43 03 EB 23\n"  // 1000/800: board (600.92, -799.31)
                               "report 20 03 03 EB 23\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out,
              "0 cursor 317 387\n"
              "0 down left 317 387\n"
              "0 sleep 10\n"
              "10 cursor 317 387\n"
              // The report of 5 ms waits for the pause: handled at 10 ms.
              "10 cursor 459 593\n"
              "20 cursor 601 799\n"
              "20 up left 601 799\n"
              "20 cursor 601 799\n");
    EXPECT_EQ(result.err, "");
}

TEST(Replay, WatchdogReleasesWhenReportsStopAndResumingPressesAgain)
{
    const auto result = replay(kMirrorSetup +
                               "report 0 " + kTipAt317 + "\n"
                               "report 100 " + kTipAt317 + "\n"  // restarts the watchdog: next tick at 350
                               "report 400 " + kTipAt317 + "\n");
    EXPECT_EQ(result.out,
              "0 cursor 317 387\n"
              "0 down left 317 387\n"
              "0 sleep 10\n"
              "10 cursor 317 387\n"
              "100 cursor 317 387\n"
              "350 up left 317 387\n"
              "400 cursor 317 387\n"
              "400 down left 317 387\n"
              "400 sleep 10\n"
              "410 cursor 317 387\n"
              // Restarted after the pause, at 410 ms.
              "660 up left 317 387\n");
}

TEST(Replay, RightPressHasNoPause)
{
    const auto result = replay(kMirrorSetup + "report 0 81 01 F5 F5\nreport 3 81 01 F5 F5\n");
    EXPECT_EQ(result.out,
              "0 cursor 317 387\n"
              "0 down right 317 387\n"
              "0 cursor 317 387\n"
              "3 cursor 317 387\n"
              "253 up right 317 387\n");
}

TEST(Replay, RawLinesShowEveryDecodedReport)
{
    const auto result = replay(kMirrorSetup + "report 0 " + kTipAt317 + "\nreport 1.5 C0 00 00 00\n", true);
    EXPECT_EQ(result.out,
              "0 raw 1 317 -387\n"
              "0 cursor 317 387\n"
              "0 down left 317 387\n"
              "0 sleep 10\n"
              "10 cursor 317 387\n"
              // State 3 after 1: no button event; board (317.03, 317.03) maps
              // above the screen, so the cursor stays. The left button the pen
              // still holds goes up at the watchdog's next tick.
              "10 raw 3 317 317\n"
              "260 up left 317 -317\n");
}

TEST(Replay, DefaultScreenIs1920By1080)
{
    // The inset corners of a 1920x1080 screen, mirrored: again (x, y) -> (x, -y).
    const auto result = replay("calibration 192 -108 1728 -108 192 -972 1728 -972\nreport 0 01 01 F5 F5\n");
    EXPECT_EQ(result.out, "0 cursor 317 387\n");
}

TEST(Replay, NothingStoredMeansNoPointerOutput)
{
    const std::string reports = "report 0 " + kTipAt317 + "\nreport 300 01 01 F5 F5\n";
    EXPECT_EQ(replay(reports).out, "");
    EXPECT_EQ(replay(reports, true).out, "0 raw 1 317 -387\n300 raw 0 317 -387\n");
}

TEST(Replay, DegenerateStoredCalibrationFailsAtShowAndEveryReport)
{
    const auto result = replay("calibration 320 -400 320 -400 320 -400 320 -400\n"
                               "report 0 " + kTipAt317 + "\n"
                               "report 5 " + kTipAt317 + "\n",
                               true);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out,
              "0 error Floating point division by zero\n"
              "0 raw 1 317 -387\n"
              "0 error Floating point division by zero\n"
              "5 raw 1 317 -387\n"
              "5 error Floating point division by zero\n");
}

TEST(Replay, NonIntegerStoredTextLeavesTheDriverUncalibrated)
{
    const auto result = replay("calibration 100 -100 1.5 -100 100 -900 900 -900\n"
                               "report 7 " + kTipAt317 + "\n",
                               true);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "0 error '1.5' is not a valid integer value\n7 raw 1 317 -387\n");
}

TEST(Replay, CommentsAndBlankLinesAreSkipped)
{
    const auto result = replay("# header\n\n   \t\n" + kMirrorSetup + "report 0 01 01 F5 F5 # hover\n");
    EXPECT_EQ(result.out, "0 cursor 317 387\n");
}

TEST(Replay, ShortReportKeepsEarlierBytes)
{
    // The second report carries only byte 0: the distances stay 500/500.
    const auto result = replay(kMirrorSetup + "report 0 01 01 F5 F5\nreport 1 41\n");
    EXPECT_EQ(result.out,
              "0 cursor 317 387\n"
              "1 cursor 317 387\n"
              "1 down left 317 387\n"
              "1 sleep 10\n"
              "11 cursor 317 387\n"
              "261 up left 317 387\n");
}

struct BadInputRow {
    const char* name;
    std::string script;
    std::string message;  // the whole line on stderr
};

void PrintTo(const BadInputRow& row, std::ostream* os) { *os << row.name; }

class ReplayBadInput : public testing::TestWithParam<BadInputRow> {};

TEST_P(ReplayBadInput, ExitsWithTwoAndOneLineNamingTheLine)
{
    const auto result = replay(GetParam().script);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, GetParam().message + "\n");
}

std::string reportWithBytes(int count)
{
    std::string line = "report 0";
    for (int i = 0; i < count; ++i) line += " 00";
    return line + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReplayBadInput,
    testing::Values(
        BadInputRow{"UnknownWord", "report 0 41\n# fine\nrepot 1 41\n", "line 3: unknown word 'repot'"},
        BadInputRow{"BadWidth", "screen 12x 800\n", "line 1: bad width '12x'"},
        BadInputRow{"ZeroHeight", "screen 800 0\n", "line 1: bad height '0'"},
        BadInputRow{"ScreenWithoutHeight", "screen 800\n", "line 1: 'screen' takes a width and a height"},
        BadInputRow{"BadTime", "report soon 41\n", "line 1: bad time 'soon'"},
        BadInputRow{"NegativeTime", "report -5 41\n", "line 1: bad time '-5'"},
        BadInputRow{"TooFineTime", "report 1.2345 41\n", "line 1: bad time '1.2345'"},
        BadInputRow{"ReportWithoutTime", "report\n", "line 1: 'report' needs a time"},
        BadInputRow{"BadHex", "report 0 4G\n", "line 1: bad hex byte '4G'"},
        BadInputRow{"HexTooLong", "report 0 041\n", "line 1: bad hex byte '041'"},
        BadInputRow{"DecreasingTime", "report 10 41\nreport 9.999 41\n", "line 2: time goes backwards"},
        BadInputRow{"MoreThan64Bytes", reportWithBytes(64) + reportWithBytes(65),
                    "line 2: a report has at most 64 bytes"},
        BadInputRow{"SevenCalibrationTexts", "calibration 1 2 3 4 5 6 7\n",
                    "line 1: 'calibration' takes 8 texts, got 7"},
        BadInputRow{"NineCalibrationTexts", "calibration 1 2 3 4 5 6 7 8 9\n",
                    "line 1: 'calibration' takes 8 texts, got 9"},
        BadInputRow{"CalibrationAfterFirstReport", "report 0 41\ncalibration 1 2 3 4 5 6 7 8\n",
                    "line 2: 'calibration' must come before the first report"},
        BadInputRow{"BadScreenAfterFirstReport", "report 0 41\nscreen 800 -600\n", "line 2: bad height '-600'"},
        // A word is shown escaped and cut, never as the raw bytes a terminal would act on.
        BadInputRow{"TerminalEscapeInAWord", "\x1b]0;owned\x07\\x\xc3\xa7 41\n",
                    "line 1: unknown word '\\x1B]0;owned\\x07\\x5Cx\\xC3\\xA7'"},
        BadInputRow{"LongWord", std::string(100, 'w') + "\n", "line 1: unknown word '" + std::string(32, 'w') + "...'"},
        BadInputRow{"EscapeInAHexByte", "report 0 \x1b[\n", "line 1: bad hex byte '\\x1B['"},
        BadInputRow{"LineOverTheLimit", "report 0 41\n" + std::string(kMaxReplayLineBytes + 1, 'w') + "\n",
                    "line 2: longer than the 4096 bytes a line may have"},
        BadInputRow{"EndlessLastLine", "#" + std::string(300000, 'w'), "line 1: longer than the 4096 bytes a line may have"}),
    [](const auto& info) { return std::string(info.param.name); });

// A screen line between reports: the display changed there; the pen's stored
// calibration is fitted again for the new size, and what the pen holds goes up
// first, where it went down.
TEST(Replay, ScreenChangeBetweenReportsRefits)
{
    // Board (325, -330) of the worked 1920x1080 example: about (960.50, 530.18),
    // and on 1366x768 in proportion, about (683.36, 377.0).
    const std::string example = "calibration 100 -150 550 -160 110 -500 540 -510\n";
    const std::string hover = " 01 01 D0 C5\n";
    const std::string tip = " 41 01 D0 C5\n";
    struct Row {
        const char* name;
        std::string script;
        std::string expected;
    };
    const Row rows[] = {
        {"ExampleBothWays",
         "screen 1920 1080\n" + example + "report 0" + hover + "screen 1366 768\nreport 300" + hover +
             "screen 1920 1080\nreport 600" + hover,
         "0 cursor 960 530\n300 cursor 683 377\n600 cursor 960 530\n"},
        {"HeldTipGoesUpAtTheChange",
         example + "report 0" + tip + "screen 1366 768\nreport 100" + tip,
         "0 cursor 960 530\n0 down left 960 530\n0 sleep 10\n10 cursor 960 530\n10 up left 960 530\n"
         "100 cursor 683 377\n100 down left 683 377\n100 sleep 10\n110 cursor 683 377\n360 up left 683 377\n"},
        // Inset corners of 1000x1000 seen mirrored: half the size halves the cursor.
        {"MirrorHalved", kMirrorSetup + "report 0 01 01 F5 F5\nscreen 500 500\nreport 1 01 01 F5 F5\n",
         "0 cursor 317 387\n1 cursor 159 193\n"},
        {"UncalibratedStaysSo", "report 0" + hover + "screen 1366 768\nreport 5" + hover, ""},
        {"DegenerateFailsAgainAtTheChange",
         "calibration 320 -400 320 -400 320 -400 320 -400\nreport 0" + hover + "screen 800 600\n",
         "0 error Floating point division by zero\n0 error Floating point division by zero\n"
         "0 error Floating point division by zero\n"},
    };
    for (const Row& row : rows) {
        const auto result = replay(row.script);
        EXPECT_EQ(result.exitCode, 0) << row.name;
        EXPECT_EQ(result.out, row.expected) << row.name;
        EXPECT_EQ(result.err, "") << row.name;
    }
}

TEST(Replay, LinesUpToTheLimitAndALastLineWithoutEndAreRead)
{
    const std::string longestComment = "#" + std::string(kMaxReplayLineBytes - 1, 'c') + "\n";
    const auto result = replay(longestComment + kMirrorSetup + longestComment + "report 0 01 01 F5 F5");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "0 cursor 317 387\n");
    EXPECT_EQ(result.err, "");
}

TEST(ReplayBadInput, OutputBeforeTheBadLineIsKept)
{
    const auto result = replay(kMirrorSetup + "report 0 01 01 F5 F5\nreport 0 zz\n");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "0 cursor 317 387\n");
}

TEST(ReplayTimes, PrintedInMillisecondsWithoutTrailingZeros)
{
    EXPECT_EQ(formatReplayMillis(0), "0");
    EXPECT_EQ(formatReplayMillis(250000), "250");
    EXPECT_EQ(formatReplayMillis(12500), "12.5");
    EXPECT_EQ(formatReplayMillis(12125), "12.125");
    EXPECT_EQ(formatReplayMillis(1), "0.001");
}

#ifdef ORU_REPLAY_PROGRAM  // Linux: the program through sh (Windows: tests/tools/replay-windows.sh)
// The installed program, run on files as a user would.
class ReplayProgram : public testing::Test {
protected:
    ReplayResult run(const std::string& arguments)
    {
        const auto dir = std::filesystem::path(testing::TempDir()) /
                         ("oru-replay-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(dir);
        const auto outPath = dir / "out";
        const auto errPath = dir / "err";
        const std::string command = std::string("'") + ORU_REPLAY_PROGRAM + "' " + arguments + " >'" +
                                    outPath.string() + "' 2>'" + errPath.string() + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(outPath), slurp(errPath)};
    }
    // Runs an sh command in which PROG is the program; the program's exit
    // status is what the command writes to fd 3, and its stderr is collected.
    ReplayResult shell(const std::string& command)
    {
        const auto dir = std::filesystem::path(testing::TempDir()) / "oru-replay-shell";
        std::filesystem::create_directories(dir);
        const auto statusPath = dir / "status";
        const auto errPath = dir / "err";
        std::string body = command;
        const std::string program = std::string("'") + ORU_REPLAY_PROGRAM + "' 2>>'" + errPath.string() + "'";
        for (std::size_t at; (at = body.find("PROG")) != std::string::npos;) body.replace(at, 4, program);
        if (body.find(">&3") == std::string::npos) body = "{ " + body + "; echo $? >&3; }";
        std::filesystem::remove(errPath);
        std::ofstream(errPath).close();
        const std::string script = "exec 3>'" + statusPath.string() + "'; " + body;
        const std::string quoted = "sh -c '" + escapeForSingleQuotes(script) + "'";
        std::system(quoted.c_str());
        const std::string status = slurp(statusPath);
        return {status.empty() ? -1 : std::atoi(status.c_str()), "", slurp(errPath)};
    }
    static std::string escapeForSingleQuotes(const std::string& text)
    {
        std::string out;
        for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out;
    }
    static std::string slurp(const std::filesystem::path& path)
    {
        std::ifstream file(path);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    static std::string data(const char* name) { return std::string(ORU_REPLAY_DATA_DIR) + "/" + name; }
};

TEST_F(ReplayProgram, ReplaysARecordedDrawing)
{
    const auto result = run("--raw '" + data("drawing.replay") + "'");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, slurp(data("drawing.expected")));
    EXPECT_EQ(result.err, "");
}

TEST_F(ReplayProgram, ReadsStandardInput)
{
    const auto result = run("< '" + data("drawing.replay") + "'");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("290 up right 33 799\n"), std::string::npos);
    EXPECT_EQ(result.out.find(" raw "), std::string::npos);
}

TEST_F(ReplayProgram, BadLineExitsWithTwo)
{
    const auto script = std::filesystem::path(testing::TempDir()) / "oru-replay-bad.replay";
    std::ofstream(script) << "report 0 41\nreport 1 4G\n";
    const auto result = run("'" + script.string() + "'");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "line 2: bad hex byte '4G'\n");
}

struct FailingIoRow {
    const char* name;
    std::string command;  // sh; PROG stands for the program, its stderr is taken
    int status;
    std::string message;
};

// The input can't be read or the output can't be written: a message saying
// which and why, and a status that isn't 0.
TEST_F(ReplayProgram, FailsWithAMessageWhenInputOrOutputFails)
{
    const std::string setup = "printf 'screen 1000 1000\\ncalibration 100 -100 900 -100 100 -900 900 -900\\n'";
    const std::string endlessReports = "{ " + setup + "; yes 'report 0 01 01 F5 F5' 2>/dev/null; }";
    const FailingIoRow rows[] = {
        {"directory as the file", "PROG /", 2, "oru-replay: cannot open '/': Is a directory"},
        {"directory as standard input", "PROG < /", 1, "oru-replay: cannot read standard input: Is a directory"},
        {"full disk", "PROG '" + data("drawing.replay") + "' >/dev/full", 1,
         "oru-replay: cannot write standard output: No space left on device"},
        // With SIGPIPE ignored, as some shells and services start programs:
        // the reader has gone, so the replay must stop instead of running on.
        {"reader gone", "trap '' PIPE; " + endlessReports + " | { timeout 60 PROG; echo $? >&3; } | head -c 1000 >/dev/null", 1,
         "oru-replay: cannot write standard output: Broken pipe"},
    };
    for (const auto& row : rows) {
        const auto result = shell(row.command);
        EXPECT_EQ(result.exitCode, row.status) << row.name;
        EXPECT_EQ(result.err, row.message + "\n") << row.name;
    }
}

TEST_F(ReplayProgram, MissingFileAndUnknownOptionExitWithTwo)
{
    const auto missing = run("/nonexistent/take.replay");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot open '/nonexistent/take.replay'"), std::string::npos) << missing.err;

    const auto option = run("--fast");
    EXPECT_EQ(option.exitCode, 2);
    EXPECT_NE(option.err.find("unknown option '--fast'"), std::string::npos) << option.err;
}
#endif

} // namespace
} // namespace oru
