#pragma once

#include "platform/HidReadPort.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oru {

/// The read port of a hidraw node: poll + read of one report, an eventfd to
/// interrupt a wait. Works on any pollable node; where the report descriptor
/// can't be found the device counts as one without numbered reports.
std::unique_ptr<HidReadPort> makeHidrawReadPort();

/// A hidraw node's report descriptor: from sysfs, else from the node itself
/// (opened here when openFd is -1). errorCode: why sysfs had none, when
/// neither worked.
std::optional<std::vector<std::uint8_t>> hidrawDescriptorBytes(const std::string& path, int openFd, int& errorCode);

} // namespace oru
