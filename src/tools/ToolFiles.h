#pragma once

// The command-line tools' files as plain bytes on every platform: descriptors
// read and written without newline translation, failures as errno values (so
// a message can say why). ToolFiles.cpp holds what POSIX and Windows' C
// runtime do differently; it is linked into the tools, not into the core.

#include <cstddef>

namespace oru {

inline constexpr int kStandardInputFd = 0;
inline constexpr int kStandardOutputFd = 1;
inline constexpr int kStandardErrorFd = 2;

/// Readies the standard streams; call first thing, before anything is
/// opened. POSIX: a closed 0, 1 or 2 gets /dev/null, so that no file of the
/// program takes its number (occupyClosedStandardDescriptors()). Windows:
/// binary mode, since in text mode the C runtime writes "\n" as "\r\n" and
/// ends reading at a Ctrl+Z byte.
void prepareStandardStreams();

/// Opens a file for reading in binary mode, not inherited by child processes.
/// Returns its descriptor, or -1 with the errno value in error (EISDIR for a
/// directory, which Windows would report as EACCES).
int openForReading(const char* path, int& error);

/// Reads up to bytes; the count (0 at the end), or -1 with errno set.
/// Interrupted reads are retried.
std::ptrdiff_t readSome(int fd, char* buffer, std::size_t bytes);

/// Writes up to bytes; the count written, or -1 with errno set. Interrupted
/// writes are retried.
std::ptrdiff_t writeSome(int fd, const char* buffer, std::size_t bytes);

} // namespace oru
