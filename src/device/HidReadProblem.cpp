#include "device/HidReadProblem.h"

#include "platform/HidSystem.h"

namespace oru {

std::string describeReadProblem(const HidReadProblem& problem, const HidSystem& system)
{
    const std::string reason = problem.error.code ? " (" + system.errorText(problem.error.code) + ")" : "";
    switch (problem.kind) {
    case HidReadProblem::Kind::None: return "it reads normally";
    case HidReadProblem::Kind::DescriptorUnreadable: return "its report descriptor cannot be read" + reason;
    case HidReadProblem::Kind::DescriptorMalformed: return "its report descriptor is malformed";
    case HidReadProblem::Kind::NoInputReport: return "its report descriptor declares no input report";
    case HidReadProblem::Kind::OpenFailed: return "it cannot be opened for reading" + reason;
    case HidReadProblem::Kind::ReadFailed: return "its reads fail" + reason;
    }
    return "it cannot be read";
}

} // namespace oru
