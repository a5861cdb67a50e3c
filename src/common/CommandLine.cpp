#include "common/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

namespace oru {

namespace {

bool isExclusive(const ProgramDescription& program, const std::string& name)
{
    return std::find(program.exclusive.begin(), program.exclusive.end(), name) != program.exclusive.end();
}

void printUsage(const ProgramDescription& program, std::ostream& os)
{
    os << "usage: " << program.name;
    for (const auto& option : program.options) {
        if (isExclusive(program, option.name)) continue;
        os << " [" << option.name << (option.valueName.empty() ? "" : " " + option.valueName) << ']';
    }
    if (!program.exclusive.empty()) {
        os << " [";
        for (std::size_t i = 0; i < program.exclusive.size(); ++i) os << (i ? " | " : "") << program.exclusive[i];
        os << ']';
    }
    if (!program.operands.empty()) os << ' ' << program.operands;
    os << "\n       " << program.name << " --help | --version\n";
}

void printHelp(const ProgramDescription& program, std::ostream& os)
{
    printUsage(program, os);
    os << '\n' << program.summary << "\n\noptions:\n";
    const auto line = [&](const std::string& left, const std::string& help) {
        os << "  " << left;
        for (std::size_t width = left.size(); width < 20; ++width) os << ' ';
        os << ' ' << help << '\n';
    };
    for (const auto& option : program.options) {
        line(option.name + (option.valueName.empty() ? "" : " " + option.valueName), option.help);
    }
    line("--help", "show this text and exit");
    line("--version", "show the version and exit");
}

const CommandLineOption* findOption(const ProgramDescription& program, const std::string& name)
{
    for (const auto& option : program.options) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

} // namespace

std::string printableExcerpt(std::string_view word)
{
    constexpr std::size_t kMaxShownBytes = 32;
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char ch : word.substr(0, kMaxShownBytes)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += ch;
        } else {
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 0x0F];
        }
    }
    if (word.size() > kMaxShownBytes) shown += "...";
    return shown;
}

const char* programVersion()
{
    return ORU_VERSION;
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, const ProgramDescription& program,
                                   std::ostream& out, std::ostream& err)
{
    ParsedCommandLine parsed;
    const auto usageError = [&](const std::string& what) {
        err << program.name << ": " << what << '\n';
        printUsage(program, err);
        parsed.exitStatus = 2;
        return parsed;
    };
    // An answer nobody gets is a failure: stdout on a full disk, /dev/full or
    // a closed descriptor. A stream over stdio leaves the failed write's errno.
    const auto answered = [&](const char* what) {
        errno = 0;
        out.flush();
        if (out) {
            parsed.exitStatus = 0;
        } else {
            const int error = errno;
            err << program.name << ": cannot write the " << what << " to standard output"
                << (error ? std::string(" (") + std::strerror(error) + ")" : std::string())
                << "; send it to a terminal, a pipe or a file that can take it\n";
            parsed.exitStatus = 1;
        }
        return parsed;
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.rfind('-', 0) != 0) {
            if (static_cast<int>(parsed.operands.size()) >= program.maxOperands) {
                return usageError("unexpected argument '" + printableExcerpt(arg) + "'");
            }
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            printHelp(program, out);
            return answered("help text");
        } else if (arg == "--version") {
            out << program.name << ' ' << programVersion() << '\n';
            return answered("version");
        } else {
            const auto equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            const CommandLineOption* option = findOption(program, name);
            if (!option) return usageError("unknown option '" + printableExcerpt(name) + "'");
            std::string value;
            if (option->valueName.empty()) {
                if (equals != std::string::npos) return usageError("option '" + name + "' takes no value");
            } else if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return usageError("option '" + name + "' needs a value (" + option->valueName + ")");
            }
            if (!option->choices.empty() &&
                std::find(option->choices.begin(), option->choices.end(), value) == option->choices.end()) {
                std::string choices;
                for (const auto& choice : option->choices) choices += (choices.empty() ? "" : " or ") + choice;
                return usageError("option '" + name + "' takes " + choices + ", not '" + printableExcerpt(value) +
                                  "'");
            }
            if (isExclusive(program, name)) {
                for (const auto& other : program.exclusive) {
                    if (other != name && parsed.has(other)) {
                        return usageError("options '" + other + "' and '" + name + "' exclude each other");
                    }
                }
            }
            parsed.options[name] = value;
        }
    }
    return parsed;
}

} // namespace oru
