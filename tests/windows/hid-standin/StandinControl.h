#pragma once

// Starts oru-pen-standin.exe for a Windows test and talks to it: one command,
// one reply (protocol at the top of oru_pen_standin_main.cpp).

#include <windows.h>

#include <string>

namespace oru::standin {

class StandinControl {
public:
    /// Starts the program from the test program's folder in the stand-in
    /// world `world` (ORU_HID_STANDIN, set for this process as well) and
    /// waits for its "ok ready". Throws when it can't.
    explicit StandinControl(const std::wstring& world);
    /// Sends quit and waits for the program to end.
    ~StandinControl();
    StandinControl(const StandinControl&) = delete;
    StandinControl& operator=(const StandinControl&) = delete;

    /// One command line; its reply line, without the line break.
    std::string command(const std::string& line);

    /// command() in two halves that allocate nothing, for tests that count
    /// allocations while the command runs: send the line, then wait for its
    /// reply; true when it began with "ok".
    bool post(const std::string& line);
    bool awaitOk();

private:
    std::string readLine();

    HANDLE process_ = nullptr;
    HANDLE toStandin_ = nullptr;
    HANDLE fromStandin_ = nullptr;
};

} // namespace oru::standin
