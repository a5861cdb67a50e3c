#pragma once

#include <stdexcept>

namespace oru {

/// Errors of the HID device layer: a second controller, or an interface
/// that can't be opened or identified while the device list is rebuilt.
class EControllerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace oru
