#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oru {

/// One option a program takes besides --help and --version.
struct CommandLineOption {
    std::string name;       // "--raw"
    std::string valueName;  // "MODE" when the option takes a value, else empty
    std::string help;       // one line for --help
    std::vector<std::string> choices;  // the values it takes; empty: any
};

/// What a program tells about itself and what its command line may hold.
struct ProgramDescription {
    std::string name;      // "oru-replay"
    std::string operands;  // "[FILE]" in the usage line, empty for none
    int maxOperands = 0;
    std::string summary;   // what the program does, a few lines
    std::vector<CommandLineOption> options;
    /// Options of which at most one may be given (commands that each do
    /// something else); shown as "[--a | --b]" in the usage line.
    std::vector<std::string> exclusive;
};

struct ParsedCommandLine {
    std::map<std::string, std::string> options;  // given options; a flag maps to ""
    std::vector<std::string> operands;
    /// Set when the program must end now with this status: 0 after --help or
    /// --version (printed on out), 1 when out could not take that answer (why
    /// on err), 2 after a usage error (usage on err).
    std::optional<int> exitStatus;

    bool has(const std::string& option) const { return options.count(option) != 0; }
};

/// A word of untrusted input as a message may show it: bytes outside printable
/// ASCII, and "\\", as \xHH; more than 32 bytes cut, with "..." after them.
std::string printableExcerpt(std::string_view word);

/// The package's version, the one given to the build.
const char* programVersion();

/// Reads argv the same way for every program: --help and --version answer and
/// end; an unknown option, a missing value or a surplus operand gives the usage
/// on err and status 2, as do two of the program's exclusive options. "--"
/// ends the options; "-" is an operand.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, const ProgramDescription& program,
                                   std::ostream& out, std::ostream& err);

} // namespace oru
