#pragma once

#include "platform/HidError.h"

#include <cstdint>
#include <string>

namespace oru {

/// Why a claimed device that the driver may read delivers no reports.
struct HidReadProblem {
    enum class Kind : std::uint8_t {
        None,
        DescriptorUnreadable,  // its report descriptor can't be fetched (error says why)
        DescriptorMalformed,   // its report descriptor can't be parsed
        NoInputReport,         // its report descriptor declares no input report
        OpenFailed,            // its node passes the access check but won't open (error)
        ReadFailed,            // the system refuses its reads (error)
    };
    Kind kind = Kind::None;
    /// Why, where the kind has a system error, else none.
    HidError error;

    explicit operator bool() const { return kind != Kind::None; }
    bool operator==(const HidReadProblem&) const = default;
};

class HidSystem;

/// The problem in English, to follow "was found but ": "its report
/// descriptor is malformed", "it cannot be opened for reading (Is a directory)";
/// the system gives the words for its error code.
std::string describeReadProblem(const HidReadProblem& problem, const HidSystem& system);

} // namespace oru
