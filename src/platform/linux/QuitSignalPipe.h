#pragma once

namespace oru {

/// What the driver says when a quit signal ends it during its end.
inline constexpr const char* kDriverEndsAtOnceLine =
    "oruDriver: quit signal during the end; ending at once, unsaved settings are lost\n";

/// Turns SIGTERM, SIGINT and SIGHUP into a byte on a pipe, so the event loop
/// can end the program in order (saves, button release, the last output)
/// instead of dying. Signals may arrive on any thread; a blocking call they
/// interrupt fails with EINTR. atOnceLine is the stderr line of a signal that
/// comes after endAtOnceOnQuitSignal(); it must outlive the process's end.
/// Returns the pipe's read end, or -1 when it can't be made.
int installQuitSignalPipe(const char* atOnceLine = kDriverEndsAtOnceLine);

/// Reads what the signals wrote; returns the last signal number seen, or 0.
int drainQuitSignalPipe(int readFd);

/// The program's end has begun: from now on a quit signal ends the process at
/// once, from the signal handler, with exit status 128 + the signal's number
/// and one line on stderr. Whoever sends a second signal no longer waits for
/// the end, whatever it is blocked in (a message box, a slow save).
void endAtOnceOnQuitSignal();

} // namespace oru
