#pragma once

#include "platform/PointerOutput.h"

namespace oru {

/// Pointer output that goes nowhere: for displays without XTest and for
/// measuring the pen pipeline alone.
class NullPointerOutput final : public PointerOutput {
public:
    void setCursorPos(int, int) override {}
    void mouseEvent(MouseButtonEvent, int, int) override {}
    void pause(int) override {}
};

} // namespace oru
