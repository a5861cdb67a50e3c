#include "harness/DriverProcess.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace oru::harness {

namespace {

std::atomic<pid_t> runningDriver{-1};

constexpr const char* kPreload = "libumockdev-preload.so.0";

/// This process's environment.
std::vector<std::string> ownEnvironment()
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    return env;
}

/// The environment with the umockdev preload added in front of any other.
/// An AddressSanitizer build can't be first in line behind it.
std::vector<std::string> withUmockdevPreload(const std::vector<std::string>& base)
{
    std::vector<std::string> env;
    bool asanSet = false;
    std::string preload = kPreload;
    for (const std::string& entry : base) {
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

/// Runs command (program and arguments) with env through
/// testing/own-lock-world.sh, in a lock world of its own, when that script is
/// there: the script itself runs without the preload, which goes to the
/// program through env(1).
void throughOwnLockWorld(std::vector<std::string>& command, std::vector<std::string>& env)
{
    if (::access(ORU_OWN_LOCK_WORLD_SCRIPT, X_OK) != 0) return;
    std::vector<std::string> wrapped = {ORU_OWN_LOCK_WORLD_SCRIPT, "env"};
    std::vector<std::string> kept;
    for (auto& entry : env) {
        if (entry.rfind("LD_PRELOAD=", 0) == 0) wrapped.push_back(entry);
        else kept.push_back(std::move(entry));
    }
    wrapped.insert(wrapped.end(), command.begin(), command.end());
    command = std::move(wrapped);
    env = std::move(kept);
}

/// The value of name in env, or empty.
std::string valueIn(const std::vector<std::string>& env, const std::string& name)
{
    for (const auto& entry : env)
        if (entry.rfind(name + "=", 0) == 0) return entry.substr(name.size() + 1);
    return "";
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> list;
    for (auto& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

namespace {

DriverLaunch behindUmockdev(const std::string& program, const std::string& logPath, const std::string& pidFile)
{
    DriverLaunch launch;
    launch.program = program;
    launch.logPath = logPath;
    launch.pidFile = pidFile;
    return launch;
}

} // namespace

DriverProcess::DriverProcess(const std::string& program, const std::string& logPath, const std::string& pidFile)
    : DriverProcess(behindUmockdev(program, logPath, pidFile))
{
}

DriverProcess::DriverProcess(const DriverLaunch& launch) : pidFile_(launch.pidFile), endGraceMs_(launch.endGraceMs)
{
    std::vector<std::string> env = launch.environment ? *launch.environment : ownEnvironment();
    if (launch.umockdevPreload) env = withUmockdevPreload(env);
    runtimeDir_ = valueIn(env, "XDG_RUNTIME_DIR");
    std::vector<std::string> args = {launch.program};
    args.insert(args.end(), launch.arguments.begin(), launch.arguments.end());
    // A driver of a user made for the test has a lock world of its own already.
    if (!launch.user) throughOwnLockWorld(args, env);
    std::vector<char*> envp = pointers(env);
    std::vector<char*> argv = pointers(args);
    const int logFlags = O_WRONLY | O_CREAT | (launch.truncateLog ? O_TRUNC : O_APPEND);

    if (!launch.user) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, launch.logPath.c_str(), logFlags, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) throw std::runtime_error("cannot start " + launch.program + ": " + std::strerror(error));
    } else {
        // Another user: posix_spawn can't change it, the child does before exec.
        const int log = ::open(launch.logPath.c_str(), logFlags | O_CLOEXEC, 0644);
        if (log < 0) throw std::runtime_error("cannot open " + launch.logPath + ": " + std::strerror(errno));
        const uid_t user = *launch.user;
        pid_ = ::fork();
        if (pid_ < 0) {
            ::close(log);
            throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
        }
        if (pid_ == 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) _exit(126);
            ::execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        ::close(log);
    }
    started_ = std::chrono::steady_clock::now();
    if (!pidFile_.empty()) std::ofstream(pidFile_) << pid_ << "\n";
    runningDriver = pid_;
}

std::vector<std::string> environmentBehindUmockdev()
{
    return withUmockdevPreload(ownEnvironment());
}

DriverLaunch launchAsUser(const std::string& program, const std::string& logPath, uid_t user,
                          std::vector<std::string> environment)
{
    DriverLaunch launch;
    launch.program = program;
    launch.logPath = logPath;
    launch.truncateLog = true;
    launch.environment = std::move(environment);
    launch.umockdevPreload = false;
    launch.user = user;
    launch.endGraceMs = 0;
    return launch;
}

void prepareUserHome(const std::string& home, uid_t user)
{
    for (const auto& dir : {home, home + "/runtime", home + "/config"}) {
        std::filesystem::create_directories(dir);
        if (::chown(dir.c_str(), user, user) != 0 || ::chmod(dir.c_str(), 0700) != 0)
            throw std::runtime_error("cannot prepare " + dir + ": " + std::strerror(errno));
    }
}

void stopRunningDriverNow()
{
    const pid_t pid = runningDriver.exchange(-1);
    if (pid > 0) ::kill(pid, SIGTERM);
}

DriverProcess::~DriverProcess()
{
    if (running()) stop(endGraceMs_);
    if (!pidFile_.empty()) ::unlink(pidFile_.c_str());
}

void DriverProcess::reap(int waitStatus)
{
    pid_t expected = pid_;
    runningDriver.compare_exchange_strong(expected, -1);
    waitStatus_ = waitStatus;
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
    if (graceMs > 0) {
        ::kill(pid_, SIGTERM);
        if (waitForExit(graceMs)) return;
    }
    ::kill(pid_, SIGKILL);
    int waitStatus = 0;
    if (::waitpid(pid_, &waitStatus, 0) == pid_) reap(waitStatus);
}

int DriverProcess::endWith(int signal, int timeoutMs)
{
    if (running()) ::kill(pid_, signal);
    if (!waitForExit(timeoutMs)) return -1;
    return WIFEXITED(waitStatus_) ? WEXITSTATUS(waitStatus_) : 128 + WTERMSIG(waitStatus_);
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

namespace oru::harness {

std::string DriverProcess::secondInstanceNote() const
{
    if (status_ != 0) return "";
    // /proc/locks: "1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF", numbers of the device in hex.
    const std::string uid = std::to_string(::geteuid());
    for (const std::string& path : {runtimeDir_ + "/oruDriver.lock", "/run/user/" + uid + "/oruDriver.lock",
                                    "/tmp/oruDriver-" + uid + "/oruDriver.lock"}) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;
        char file[64];
        std::snprintf(file, sizeof file, "%02x:%02x:%lu", ::major(st.st_dev), ::minor(st.st_dev),
                      static_cast<unsigned long>(st.st_ino));
        std::ifstream locks("/proc/locks");
        std::string line;
        while (std::getline(locks, line)) {
            std::istringstream fields(line);
            std::string number, kind, mode, access, holder, id;
            fields >> number >> kind >> mode >> access >> holder >> id;
            if (kind == "FLOCK" && id == file) {
                return "; it ended at its start as a second instance: process " + holder +
                       " holds the single-instance lock " + path;
            }
        }
    }
    return "";
}

} // namespace oru::harness
