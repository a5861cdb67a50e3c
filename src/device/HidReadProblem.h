#pragma once

#include <cstdint>
#include <string>

namespace oru {

/// Why a claimed device that the driver may read delivers no reports.
struct HidReadProblem {
    enum class Kind : std::uint8_t {
        None,
        DescriptorUnreadable,  // its report descriptor can't be fetched (errorCode says why)
        DescriptorMalformed,   // its report descriptor can't be parsed
        NoInputReport,         // its report descriptor declares no input report
        OpenFailed,            // its node passes the access check but won't open (errorCode)
        ReadFailed,            // the system refuses its reads (errorCode)
    };
    Kind kind = Kind::None;
    /// The system's error number where the kind has one, else 0.
    int errorCode = 0;

    explicit operator bool() const { return kind != Kind::None; }
    bool operator==(const HidReadProblem&) const = default;
};

/// Error numbers of a device that has gone (unplugged): normal, no problem.
bool isDeviceGoneError(int errorCode);

/// Error numbers that pass by themselves (resources of this process or the
/// system running short): retrying is the cure, nobody needs to act at once.
bool isTransientError(int errorCode);

/// The problem in English, to follow "was found but ": "its report
/// descriptor is malformed", "it cannot be opened for reading (Is a directory)".
std::string describeReadProblem(const HidReadProblem& problem);

} // namespace oru
