#pragma once

#include <functional>
#include <string>
#include <thread>

namespace oru {

/// A program without a console has nowhere for the lines the core writes to
/// stderr (board screen changes, storage errors at the end). While this
/// lives, fd 2 and STD_ERROR_HANDLE are the write end of a pipe whose every
/// line goes to the debugger's output stream (OutputDebugStringW: DebugView,
/// a debugger), or to `sink` in tests. The end flushes and forwards what is
/// left, so the lines of the program's last moments are not lost.
class WinDebugOutput {
public:
    using Sink = std::function<void(const std::string& line)>;
    explicit WinDebugOutput(Sink sink = {});
    ~WinDebugOutput();
    WinDebugOutput(const WinDebugOutput&) = delete;
    WinDebugOutput& operator=(const WinDebugOutput&) = delete;

    /// Whether the program has a stream of its own for stderr (a console, a
    /// redirection): then nothing needs forwarding.
    static bool stderrAttached();
    /// Whether a forwarder runs: diagnostic() need not write to the debugger itself.
    static bool active();

private:
    Sink sink_;
    void* readEnd_ = nullptr;
    int savedStderr_ = -1;
    std::thread reader_;
};

} // namespace oru
