#pragma once

namespace oru {

/// Turns SIGTERM, SIGINT and SIGHUP into a byte on a pipe, so the event loop
/// can end the program in order (saves, button release) instead of dying.
/// Returns the pipe's read end, or -1 when it can't be made.
int installQuitSignalPipe();

/// Reads what the signals wrote; returns the last signal number seen, or 0.
int drainQuitSignalPipe(int readFd);

} // namespace oru
