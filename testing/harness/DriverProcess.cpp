#include "harness/DriverProcess.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace oru::harness {

namespace {

std::atomic<pid_t> runningDriver{-1};

constexpr const char* kPreload = "libumockdev-preload.so.0";

/// This process's environment with the umockdev preload added in front of
/// any other. An AddressSanitizer build can't be first in line behind it.
std::vector<std::string> driverEnvironment()
{
    std::vector<std::string> env;
    bool asanSet = false;
    std::string preload = kPreload;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("LD_PRELOAD=", 0) == 0) {
            if (entry.find(kPreload) != std::string::npos) preload = entry.substr(11);
            else if (entry.size() > 11) preload += ":" + entry.substr(11);
            continue;
        }
        if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
            asanSet = true;
            env.push_back(entry.find("verify_asan_link_order") == std::string::npos
                              ? entry + ":verify_asan_link_order=0"
                              : entry);
            continue;
        }
        env.push_back(entry);
    }
    env.push_back("LD_PRELOAD=" + preload);
    if (!asanSet) env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    return env;
}

} // namespace

DriverProcess::DriverProcess(const std::string& program, const std::string& logPath, const std::string& pidFile)
    : pidFile_(pidFile)
{
    const std::vector<std::string> env = driverEnvironment();
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::string programCopy = program;
    char* argv[] = {programCopy.data(), nullptr};
    const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
    if (!pidFile_.empty()) std::ofstream(pidFile_) << pid_ << "\n";
    runningDriver = pid_;
}

void stopRunningDriverNow()
{
    const pid_t pid = runningDriver.exchange(-1);
    if (pid > 0) ::kill(pid, SIGTERM);
}

DriverProcess::~DriverProcess()
{
    if (running()) stop();
    if (!pidFile_.empty()) ::unlink(pidFile_.c_str());
}

void DriverProcess::reap(int waitStatus)
{
    pid_t expected = pid_;
    runningDriver.compare_exchange_strong(expected, -1);
    status_ = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

bool DriverProcess::running()
{
    if (status_) return false;
    int waitStatus = 0;
    const pid_t r = ::waitpid(pid_, &waitStatus, WNOHANG);
    if (r == pid_) {
        reap(waitStatus);
        return false;
    }
    return r == 0;
}

bool DriverProcess::waitForExit(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void DriverProcess::stop(int graceMs)
{
    if (!running()) return;
    ::kill(pid_, SIGTERM);
    if (waitForExit(graceMs)) return;
    ::kill(pid_, SIGKILL);
    int waitStatus = 0;
    if (::waitpid(pid_, &waitStatus, 0) == pid_) reap(waitStatus);
}

long DriverProcess::residentKiB() const
{
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

double DriverProcess::cpuSeconds() const
{
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name, which is in parentheses and may hold spaces.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace oru::harness
