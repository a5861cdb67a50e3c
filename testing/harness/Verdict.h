#pragma once

#include <string>
#include <vector>

namespace oru::harness {

/// One check of a verdict, with what was measured.
struct Check {
    std::string what;
    bool passed;
    std::string detail;
};

/// What a run against the real driver found: checks, notes of what was
/// measured, screenshots; in the end a summary on stdout and in a file.
class Verdict {
public:
    /// echo: print each check and note as it comes, not only in the summary.
    explicit Verdict(bool echo = false) : echo_(echo) {}

    void check(const std::string& what, bool passed, const std::string& detail = {});
    void note(const std::string& line);
    /// A screenshot saved in the output folder, by file name.
    void shot(const std::string& fileName) { shots_.push_back(fileName); }

    /// Prints the summary of the run `name` and writes it to
    /// outputDir/summary-<name>.txt; 0 when every check passed (and there
    /// was one), else 1.
    int write(const std::string& name, const std::string& outputDir) const;

private:
    bool echo_;
    std::vector<Check> checks_;
    std::vector<std::string> notes_;
    std::vector<std::string> shots_;
};

} // namespace oru::harness
