#pragma once

#include "platform/HidReadPort.h"

#include <memory>

namespace oru {

struct WinHidLibraries;

/// The read port of a HID interface path: overlapped ReadFile calls of one
/// whole input report each into a buffer of the port's own (sized from the
/// capabilities at open), a wait on the read's event and on a stop event that
/// wake() sets, and cancellation of the outstanding read when the port
/// closes. libraries may be null (the buffer then takes the largest report
/// HID allows).
std::unique_ptr<HidReadPort> makeWinHidReadPort(std::shared_ptr<const WinHidLibraries> libraries);

} // namespace oru
