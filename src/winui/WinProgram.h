#pragma once

#include "common/CommandLine.h"
#include "platform/MachineCalibration.h"
#include "platform/windows/WinDebugOutput.h"
#include "platform/windows/WinSingleInstance.h"

#include <optional>
#include <string>
#include <vector>

namespace oru {

/// The Windows driver's command line, and the program's own as UTF-8 words
/// (Windows gives UTF-16).
ProgramDescription windowsDriverProgram();
std::vector<std::string> commandLineWords();

/// The answer of --help, --version or a usage error: on the output when the
/// program has one (started from a console with its output redirected, a
/// script), else in a message box, since a program without a console shows no
/// text otherwise. False when the answer could not be written (a full disk, a
/// closed pipe), which is said on stderr.
bool tell(const std::string& out, const std::string& err);

/// A box captioned "oruDriver" with an error, in front.
void showErrorBox(const std::string& text);

/// What a start does before its windows, in this order: an administrator's
/// command (--save-for-all-users), --quit and --calibrate to the running
/// driver (--calibrate goes on to calibrate when none runs), a plain second
/// start's end, stderr to the debugger's output (debugOutput) and the
/// single-instance semaphore. A status when the start ends here.
std::optional<int> answerOrStart(const ParsedCommandLine& parsed, const MachineCalibration& machine,
                                 std::optional<WinDebugOutput>& debugOutput,
                                 std::optional<InstanceSemaphore>& instance);

/// Says once that the driver runs with an administrator's token.
void tellWhenElevated();

} // namespace oru
