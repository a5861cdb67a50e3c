// Arbitrary bytes as a HID report descriptor (a device's sysfs file is not
// to be trusted): a layout or nothing, never a crash or undefined behaviour.

#include "device/HidReportDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    oru::parseReportDescriptor(std::span<const std::uint8_t>(data, size));
    return 0;
}
