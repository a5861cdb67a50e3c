#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace oru {
namespace {

const ProgramDescription kProgram{"oru-test", "[FILE]", 1, "Does a test.",
                                  {{"--raw", "", "also the raw lines"}, {"--pointer", "MODE", "xtest or uinput", {"xtest", "uinput"}},
                                   {"--calibrate", "", "calibrate"}, {"--quit", "", "end"}},
                                  {"--calibrate", "--quit"}};

struct CommandLineRow {
    std::vector<const char*> args;
    int exitStatus;          // -1: the program goes on
    std::string options;     // "name=value;" for each option given
    std::string operands;    // joined with ";"
    std::string outStart;    // what stdout starts with
    std::string errStart;    // what stderr starts with
};

// A row's test is named after its arguments: printed bytes of the row would
// hold addresses, which change from run to run and made names repeat.
void PrintTo(const CommandLineRow& row, std::ostream* os)
{
    *os << "args:";
    if (row.args.empty()) *os << " none";
    for (const char* arg : row.args) {
        *os << ' ';
        for (const unsigned char c : std::string(arg)) {
            if (c >= 0x20 && c < 0x7F) *os << c;
            else *os << "\\x" << "0123456789ABCDEF"[c >> 4] << "0123456789ABCDEF"[c & 15];
        }
    }
}

class CommandLine : public testing::TestWithParam<CommandLineRow> {};

TEST_P(CommandLine, AnswersEndsOrHandsOnWhatItRead)
{
    const auto& row = GetParam();
    std::vector<const char*> argv{"oru-test"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    std::ostringstream out, err;

    const auto parsed = parseCommandLine(static_cast<int>(argv.size()), argv.data(), kProgram, out, err);

    EXPECT_EQ(parsed.exitStatus.value_or(-1), row.exitStatus);
    std::string options, operands;
    for (const auto& [name, value] : parsed.options) options += name + "=" + value + ";";
    for (const auto& operand : parsed.operands) operands += operand + ";";
    EXPECT_EQ(options, row.options);
    EXPECT_EQ(operands, row.operands);
    EXPECT_EQ(out.str().substr(0, row.outStart.size()), row.outStart);
    EXPECT_EQ(err.str().substr(0, row.errStart.size()), row.errStart);
    if (row.outStart.empty()) EXPECT_EQ(out.str(), "");
    if (row.errStart.empty()) EXPECT_EQ(err.str(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLine,
    testing::Values(
        CommandLineRow{{}, -1, "", "", "", ""},
        CommandLineRow{{"--raw", "pen.replay"}, -1, "--raw=;", "pen.replay;", "", ""},
        CommandLineRow{{"--pointer", "uinput"}, -1, "--pointer=uinput;", "", "", ""},
        CommandLineRow{{"--pointer=xtest", "-"}, -1, "--pointer=xtest;", "-;", "", ""},
        CommandLineRow{{"--", "--raw"}, -1, "", "--raw;", "", ""},
        // --help and --version answer on stdout and end with 0, whatever follows.
        CommandLineRow{{"--help", "--bogus"}, 0, "", "", "usage: oru-test [--raw] [--pointer MODE] [--calibrate | --quit] [FILE]\n", ""},
        CommandLineRow{{"-h"}, 0, "", "", "usage: oru-test", ""},
        CommandLineRow{{"--version"}, 0, "", "", std::string("oru-test ") + programVersion() + "\n", ""},
        // Usage errors: usage on stderr, status 2.
        CommandLineRow{{"--bogus"}, 2, "", "", "", "oru-test: unknown option '--bogus'\nusage: oru-test"},
        CommandLineRow{{"-x"}, 2, "", "", "", "oru-test: unknown option '-x'"},
        CommandLineRow{{"--pointer"}, 2, "", "", "", "oru-test: option '--pointer' needs a value (MODE)"},
        CommandLineRow{{"--pointer", "evdev"}, 2, "", "", "", "oru-test: option '--pointer' takes xtest or uinput, not 'evdev'\nusage:"},
        CommandLineRow{{"--pointer="}, 2, "", "", "", "oru-test: option '--pointer' takes xtest or uinput, not ''"},
        CommandLineRow{{"--raw=1"}, 2, "", "", "", "oru-test: option '--raw' takes no value"},
        CommandLineRow{{"a", "b"}, 2, "", "a;", "", "oru-test: unexpected argument 'b'"},
        // One of the exclusive options goes with the others, twice the same is once.
        CommandLineRow{{"--quit", "--pointer", "xtest"}, -1, "--pointer=xtest;--quit=;", "", "", ""},
        CommandLineRow{{"--calibrate", "--calibrate"}, -1, "--calibrate=;", "", "", ""},
        CommandLineRow{{"--calibrate", "--raw", "--quit"}, 2, "--calibrate=;--raw=;", "", "",
                       "oru-test: options '--calibrate' and '--quit' exclude each other\nusage: oru-test"},
        // A terminal escape sequence is shown, not sent to the terminal.
        CommandLineRow{{"--\x1b[2J"}, 2, "", "", "", "oru-test: unknown option '--\\x1B[2J'"}));

} // namespace
} // namespace oru
