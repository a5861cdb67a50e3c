#pragma once

#include <cstdint>

namespace oru {

/// The tray square as the device layer drives it. Colours are 0x00BBGGRR.
class TrayStatus {
public:
    virtual ~TrayStatus() = default;
    virtual void setColor(std::uint32_t bgr) = 0;
    virtual void setFontColor(std::uint32_t bgr) = 0;
};

} // namespace oru
