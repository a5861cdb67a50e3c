#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace oru::harness {

/// How a driver program is started.
struct DriverLaunch {
    std::string program;
    /// Arguments after the program's name.
    std::vector<std::string> arguments;
    /// Where its standard output and error go; appended to unless truncateLog.
    std::string logPath;
    bool truncateLog = false;
    /// Its process id is written here (when given) so that a calling script
    /// can clean up even if this process is killed; removed at the end.
    std::string pidFile;
    /// Its whole environment; unset: this process's.
    std::optional<std::vector<std::string>> environment;
    /// Behind libumockdev-preload, so that it sees the umockdev test bed's
    /// devices (it takes $UMOCKDEV_DIR from the environment).
    bool umockdevPreload = true;
    /// Runs as this user, with the group of the same number and no others
    /// (this process being root); unset: as this process.
    std::optional<uid_t> user;
    /// On destruction a driver that still runs gets SIGTERM and this long to
    /// end before SIGKILL; 0: SIGKILL at once.
    int endGraceMs = 3000;
};

/// The real driver program as a child process: by default started under
/// umockdev's preload so that it sees the test bed's devices, and (unless it
/// runs as another user) in a lock world of its own (testing/own-lock-world.sh),
/// so that neither the user's running driver nor another test run's makes it
/// end as a second instance. The destructor ends it if it still runs.
class DriverProcess {
public:
    explicit DriverProcess(const DriverLaunch& launch);
    /// Starts program behind the umockdev preload with its output going to
    /// logPath; writes its process id to pidFile (when given).
    DriverProcess(const std::string& program, const std::string& logPath, const std::string& pidFile);
    ~DriverProcess();
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::chrono::steady_clock::time_point started() const { return started_; }
    bool running();
    /// Exit status once ended; -1 for a signal.
    std::optional<int> exitStatus() const { return status_; }
    /// Waits up to timeoutMs for the end; true when it has ended.
    bool waitForExit(int timeoutMs);
    /// SIGTERM, then SIGKILL after graceMs; graceMs 0: SIGKILL at once.
    void stop(int graceMs = 3000);
    /// Sends signal (when it still runs) and waits up to timeoutMs: the exit
    /// status, 128 + the signal that ended it, or -1 while it still runs.
    int endWith(int signal, int timeoutMs);
    /// Resident memory (VmRSS) in KiB, or -1 when it can't be read.
    long residentKiB() const;
    /// User plus system CPU time so far, seconds.
    double cpuSeconds() const;
    /// Once it has ended with status 0 while another process holds the
    /// single-instance lock it would have taken: "; it ended at its start as a
    /// second instance: process <pid> holds the single-instance lock <path>",
    /// to follow a message that it ended; otherwise empty.
    std::string secondInstanceNote() const;

private:
    void reap(int waitStatus);

    pid_t pid_ = -1;
    std::optional<int> status_;
    int waitStatus_ = 0;
    std::string pidFile_;
    std::string runtimeDir_;  // its XDG_RUNTIME_DIR
    int endGraceMs_ = 3000;
    std::chrono::steady_clock::time_point started_;
};

/// This process's environment (NAME=value) with libumockdev-preload first
/// in LD_PRELOAD, and the AddressSanitizer option a sanitized program needs
/// to run behind it: what a program behind the preload is started with.
std::vector<std::string> environmentBehindUmockdev();

/// A driver run as user (this process being root) with exactly environment:
/// no umockdev preload, a fresh log, SIGKILL at once if it still runs at the end.
DriverLaunch launchAsUser(const std::string& program, const std::string& logPath, uid_t user,
                          std::vector<std::string> environment);

/// A test user's private home for a driver run as that user (this process
/// being root): home, home/runtime (XDG_RUNTIME_DIR) and home/config
/// (XDG_CONFIG_HOME), made when missing, the user's, mode 0700.
void prepareUserHome(const std::string& home, uid_t user);

/// Ends a driver that still runs, from a place that can't unwind (a fatal
/// X error): async-signal-safe.
void stopRunningDriverNow();

} // namespace oru::harness
