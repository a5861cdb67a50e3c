#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace oru::harness {

/// The real driver program, started under umockdev's preload so that it
/// sees the test bed's devices (it inherits $UMOCKDEV_DIR from this process).
/// The destructor ends it if it still runs.
class DriverProcess {
public:
    /// Starts program with its output going to logPath; writes its process
    /// id to pidFile (when given) so that a calling script can clean up even
    /// if this process is killed.
    DriverProcess(const std::string& program, const std::string& logPath, const std::string& pidFile);
    ~DriverProcess();
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    /// Exit status once ended; -1 for a signal.
    std::optional<int> exitStatus() const { return status_; }
    /// Waits up to timeoutMs for the end; true when it has ended.
    bool waitForExit(int timeoutMs);
    /// SIGTERM, then SIGKILL after graceMs.
    void stop(int graceMs = 3000);
    /// Resident memory (VmRSS) in KiB, or -1 when it can't be read.
    long residentKiB() const;
    /// User plus system CPU time so far, seconds.
    double cpuSeconds() const;

private:
    void reap(int waitStatus);

    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string pidFile_;
};

/// Ends a driver that still runs, from a place that can't unwind (a fatal
/// X error): async-signal-safe.
void stopRunningDriverNow();

} // namespace oru::harness
