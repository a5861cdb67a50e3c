#pragma once

#include <functional>
#include <string>

namespace oru {

/// Where the device layer writes its one-line messages for administrators
/// (English, no trailing newline). Called from the main thread and, rarely,
/// from a reader thread: an implementation must be thread-safe.
using DiagnosticSink = std::function<void(const std::string& line)>;

/// Writes the line and a newline to stderr in one call.
void writeDiagnosticToStderr(const std::string& line);

} // namespace oru
