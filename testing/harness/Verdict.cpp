#include "harness/Verdict.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace oru::harness {

void Verdict::check(const std::string& what, bool passed, const std::string& detail)
{
    checks_.push_back({what, passed, detail});
    if (!echo_) return;
    std::printf("  [%s] %s%s%s\n", passed ? "ok" : "FAILED", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
}

void Verdict::note(const std::string& line)
{
    notes_.push_back(line);
    if (!echo_) return;
    std::printf("  %s\n", line.c_str());
    std::fflush(stdout);
}

int Verdict::write(const std::string& name, const std::string& outputDir) const
{
    std::ostringstream out;
    out << "Summary (" << name << "):\n";
    for (const auto& line : notes_) out << "  " << line << "\n";
    out << "Checks:\n";
    bool all = !checks_.empty();
    for (const auto& c : checks_) {
        out << "  [" << (c.passed ? "ok" : "FAILED") << "] " << c.what;
        if (!c.detail.empty()) out << ": " << c.detail;
        out << "\n";
        all = all && c.passed;
    }
    if (!shots_.empty()) {
        out << "Screenshots in " << outputDir << ":";
        for (const auto& s : shots_) out << " " << s;
        out << "\n";
    }
    out << "Result: " << (all ? "PASS" : "FAIL") << " (" << name << ")\n";
    std::fputs(out.str().c_str(), stdout);
    std::fflush(stdout);
    std::ofstream(outputDir + "/summary-" + name + ".txt") << out.str();
    return all ? 0 : 1;
}

} // namespace oru::harness
