#pragma once

// A program a Windows test starts with its standard input and output on
// pipes: lines in, lines out.

#include <windows.h>

#include <string>

namespace oru::standin {

/// The folder of the running program, with a trailing backslash.
std::wstring programFolder();

class ChildProcess {
public:
    /// Starts commandLine (its standard error is the test's); throws when
    /// it can't. flags: CreateProcess's creation flags.
    explicit ChildProcess(const std::wstring& commandLine, DWORD flags = 0);
    /// Ends it if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool writeLine(const std::string& line);
    /// The next output line without its line break; empty at the end or
    /// when none comes within 30 s.
    std::string readLine();
    /// The next output line, when it is complete within timeoutMs; a part
    /// read meanwhile is kept for the next call.
    bool readLineWithin(std::string& line, DWORD timeoutMs);
    /// The first two characters of the next line (the rest is skipped),
    /// without allocating.
    bool nextLineStartsWithOk();
    /// Closes its standard input.
    void closeInput();
    /// Waits up to timeoutMs for its end; its exit code, or -1.
    long waitForExit(DWORD timeoutMs);
    DWORD id() const { return id_; }

private:
    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
    DWORD id_ = 0;
    std::string partial_;
};

} // namespace oru::standin
