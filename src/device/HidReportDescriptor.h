#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace oru {

/// What the driver needs to know of a HID report descriptor to read reports.
struct HidReportLayout {
    /// Largest input report's data bytes plus one for the report-ID byte,
    /// which is counted also when the device has no numbered reports (the
    /// length the driver reads, as other systems report it). 0 when the
    /// descriptor declares no input report.
    std::uint16_t inputReportLength = 0;
    /// Whether reports carry a leading report ID (a Report ID item is present).
    bool numberedReports = false;

    bool operator==(const HidReportLayout&) const = default;
};

/// Walks a report descriptor's items and sums the bits of each report's Input
/// items. Returns nothing for a descriptor the kernel would refuse as well:
/// an item running past the end, report ID 0, a Pop without Push, more than
/// four Pushes, unbalanced collections, or reports too long to read.
std::optional<HidReportLayout> parseReportDescriptor(std::span<const std::uint8_t> descriptor);

} // namespace oru
