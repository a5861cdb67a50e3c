#pragma once

// Starts oru-pen-standin.exe for a Windows test and talks to it: one command,
// one reply (protocol at the top of oru_pen_standin_main.cpp).

#include "ChildProcess.h"

#include <memory>
#include <string>

namespace oru::standin {

class StandinControl {
public:
    /// Starts the program from the test program's folder in the stand-in
    /// world `world` (ORU_HID_STANDIN, set for this process and the programs
    /// it starts from now on) and waits for its "ok ready". Throws when it can't.
    explicit StandinControl(const std::wstring& world);
    /// Sends quit and waits for the program to end.
    ~StandinControl();

    /// One command line; its reply line, without the line break.
    std::string command(const std::string& line);

    /// command() in two halves that allocate nothing, for tests that count
    /// allocations while the command runs: send the line, then wait for its
    /// reply; true when it began with "ok".
    bool post(const std::string& line) { return program_->writeLine(line); }
    bool awaitOk() { return program_->nextLineStartsWithOk(); }

private:
    std::unique_ptr<ChildProcess> program_;
};

} // namespace oru::standin
