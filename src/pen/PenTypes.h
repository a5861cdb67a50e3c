#pragma once

#include <cstdint>

namespace oru {

/// Pen button states as the tracker reports them in the top two bits of byte 0.
enum TPenState : std::int32_t { psUp = 0, psLeft = 1, psRight = 2 };

/// Number of data bytes of a report that are kept and decoded.
inline constexpr int kReportBufferEntries = 5;
/// Moving-average history: entries kept, and entries averaged.
inline constexpr int kSmoothHistoryEntries = 8;
inline constexpr int kSmoothWindow = 5;

} // namespace oru
