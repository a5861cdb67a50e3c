#pragma once

#include "common/CommandLine.h"

#include <string>
#include <vector>

namespace oru {

/// The driver's command line, the same on every system: what it does, then
/// platformSummary (its tray and session, its exit statuses), the platform's
/// own options, then --calibrate, --quit and --save-for-all-users (adminHint:
/// how to run it with the rights it needs, "use sudo").
ProgramDescription driverProgramDescription(const std::string& platformSummary,
                                            std::vector<CommandLineOption> platformOptions,
                                            const std::string& adminHint);

} // namespace oru
