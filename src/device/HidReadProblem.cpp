#include "device/HidReadProblem.h"

#include <cerrno>
#include <cstring>

namespace oru {

bool isDeviceGoneError(int errorCode)
{
    return errorCode == ENOENT || errorCode == ENODEV || errorCode == ENXIO;
}

bool isTransientError(int errorCode)
{
    return errorCode == EMFILE || errorCode == ENFILE || errorCode == ENOMEM || errorCode == EAGAIN ||
           errorCode == EINTR;
}

std::string describeReadProblem(const HidReadProblem& problem)
{
    const std::string reason = problem.errorCode ? std::string(" (") + std::strerror(problem.errorCode) + ")" : "";
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
