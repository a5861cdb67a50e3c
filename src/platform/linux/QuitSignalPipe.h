#pragma once

namespace oru {

/// Turns SIGTERM, SIGINT and SIGHUP into a byte on a pipe, so the event loop
/// can end the program in order (saves, button release) instead of dying.
/// Returns the pipe's read end, or -1 when it can't be made.
int installQuitSignalPipe();

/// Reads what the signals wrote; returns the last signal number seen, or 0.
int drainQuitSignalPipe(int readFd);

/// The program's end has begun: from now on a quit signal ends the process at
/// once, from the signal handler, with exit status 128 + the signal's number
/// and one line on stderr. Whoever sends a second signal no longer waits for
/// the end, whatever it is blocked in (a message box, a slow save).
void endAtOnceOnQuitSignal();

} // namespace oru
