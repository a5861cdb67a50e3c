#pragma once

#include "platform/PointerOutput.h"

#include <string>
#include <vector>

namespace oru::test {

/// Records every pointer call as a short text line ("cursor 10 20",
/// "down left 10 20", "up right 3 4", "pause 10") for table comparisons.
class RecordingPointerOutput final : public PointerOutput {
public:
    std::vector<std::string> calls;

    void setCursorPos(int x, int y) override { calls.push_back("cursor " + xy(x, y)); }
    void mouseEvent(MouseButtonEvent event, int dx, int dy) override
    {
        static const char* const names[] = {"down left", "up left", "down right", "up right"};
        calls.push_back(std::string(names[static_cast<int>(event)]) + " " + xy(dx, dy));
    }
    void pause(int ms) override { calls.push_back("pause " + std::to_string(ms)); }

private:
    static std::string xy(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }
};

} // namespace oru::test
