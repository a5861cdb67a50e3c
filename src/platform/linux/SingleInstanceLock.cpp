#include "platform/linux/SingleInstanceLock.h"

#include "platform/linux/UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace oru {

namespace {

// Whoever else may add or replace entries in a folder could put their own
// file, or a link to one, where the lock file goes.
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool isAbsolute(const std::string& path)
{
    return !path.empty() && path.front() == '/';
}

std::string failed(const char* call, int error)
{
    return std::string(call) + ": " + std::strerror(error);
}

std::string octalMode(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

/// A runtime folder ("what" names it), opened, when it is fit for the lock.
/// A folder that isn't there is a problem only when missingIsProblem.
UniqueFd openRuntimeDirectory(const std::string& what, const std::string& dir, bool missingIsProblem,
                              std::vector<std::string>& problems)
{
    if (!isAbsolute(dir)) {
        problems.push_back(what + " is not an absolute path");
        return UniqueFd();
    }
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        if (errno != ENOENT || missingIsProblem) problems.push_back(what + " cannot be used (" + failed("open", errno) + ")");
        return UniqueFd();
    }
    if (st.st_uid != ::geteuid()) {
        problems.push_back(what + " belongs to uid " + std::to_string(st.st_uid) + ", not to this user (uid " +
                           std::to_string(::geteuid()) + ")");
        return UniqueFd();
    }
    if (st.st_mode & kWritableByOthers) {
        problems.push_back(what + " can be written by other users (mode " + octalMode(st.st_mode) +
                           "); it should be 0700");
        return UniqueFd();
    }
    return fd;
}

/// Why the entry path (as lstat saw it) can't be a private folder of ours:
/// a link, or someone else's; nothing when it can.
std::optional<std::string> foreignFolder(const std::string& path, const struct stat& st)
{
    if (S_ISLNK(st.st_mode)) return "'" + path + "' is a symbolic link, which is not followed; remove it";
    if (st.st_uid != ::geteuid()) {
        return "the folder '" + path + "' belongs to uid " + std::to_string(st.st_uid) + ", not to this user (uid " +
               std::to_string(::geteuid()) + "), who may have made it to switch off the single-instance rule; " +
               "it is not used: remove it";
    }
    return std::nullopt;
}

/// The folder "name" inside parent, made 0700 when missing. Refused when it is
/// a symbolic link or belongs to someone else; a mode that lets others in is
/// taken back to 0700.
UniqueFd openPrivateFolder(const std::string& parent, const std::string& name, std::vector<std::string>& problems)
{
    const std::string path = parent + "/" + name;
    UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd) {
        problems.push_back("cannot use the folder '" + parent + "' (" + failed("open", errno) + ")");
        return UniqueFd();
    }
    if (::mkdirat(parentFd.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
        problems.push_back("cannot create the folder '" + path + "' (" + failed("mkdir", errno) + ")");
        return UniqueFd();
    }
    UniqueFd fd(::openat(parentFd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd) {
        const int error = errno;
        if (::fstatat(parentFd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            problems.push_back(*foreignFolder(path, st));
        } else {
            problems.push_back("cannot use the folder '" + path + "' (" + failed("open", error) + ")");
        }
        return UniqueFd();
    }
    if (::fstat(fd.get(), &st) != 0) {
        problems.push_back("cannot use the folder '" + path + "' (" + failed("fstat", errno) + ")");
        return UniqueFd();
    }
    if (const auto foreign = foreignFolder(path, st)) {
        problems.push_back(*foreign);
        return UniqueFd();
    }
    // Only its owner (or root) can have changed the mode of a folder of ours.
    if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0) {
        problems.push_back("the folder '" + path + "' has mode " + octalMode(st.st_mode) +
                           " and cannot be made private (" + failed("chmod", errno) + ")");
        return UniqueFd();
    }
    return fd;
}

/// Names the folder "name" inside parent in problems when someone else made
/// it or planted a link there; makes nothing.
void noteForeignFolder(const std::string& parent, const std::string& name, std::vector<std::string>& problems)
{
    const std::string path = parent + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (const auto foreign = foreignFolder(path, st)) problems.push_back(*foreign);
}

/// Replaces the lock file's content by "<this pid> <text>": who holds it, for
/// a later start that wants to reach the holder.
void writeHolder(int fd, const std::string& text)
{
    const std::string line = std::to_string(::getpid()) + (text.empty() ? "" : " " + text) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, line.data(), line.size(), 0) < 0) {
        // Only a later command's message loses the holder's word.
    }
}

/// The process holding an flock on the file (device, inode), from /proc/locks
/// ("1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF", major
/// and minor in hex); nullopt when none, or when the list can't be read.
std::optional<int> flockHolder(const struct stat& file, bool& listRead)
{
    std::FILE* locks = std::fopen("/proc/locks", "re");
    listRead = locks != nullptr;
    if (!locks) return std::nullopt;
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long long>(file.st_ino));
    std::optional<int> pid;
    char line[256];
    while (!pid && std::fgets(line, sizeof line, locks)) {
        char kind[16], where[64];
        int holder = 0;
        // A waiter's line has "->" where the kind is: it holds nothing.
        if (std::sscanf(line, "%*s %15s %*s %*s %d %63s", kind, &holder, where) == 3 &&
            std::strcmp(kind, "FLOCK") == 0 && std::strcmp(where, wanted) == 0) {
            pid = holder;
        }
    }
    std::fclose(locks);
    return pid;
}

} // namespace

std::optional<SingleInstanceLock::Holder> SingleInstanceLock::holder(const std::string& name,
                                                                     const LockEnvironment& environment)
{
    const std::string fileName = name + ".lock";
    std::vector<std::string> places;
    for (const std::string& dir : {environment.runtimeDir, environment.userRuntimeDir}) {
        if (isAbsolute(dir)) places.push_back(dir + "/" + fileName);
    }
    if (isAbsolute(environment.cacheHome)) {
        places.push_back(environment.cacheHome + "/" + name + "/" + fileName);
    } else if (isAbsolute(environment.home)) {
        places.push_back(environment.home + "/.cache/" + name + "/" + fileName);
    }
    places.push_back(environment.sharedTmp + "/" + name + "-" + std::to_string(::geteuid()) + "/" + fileName);
    for (const std::string& place : places) {
        UniqueFd fd(::open(place.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        char text[256] = {};
        const ssize_t length = ::pread(fd.get(), text, sizeof text - 1, 0);
        int notedPid = 0;
        int consumed = 0;
        if (length <= 0 || std::sscanf(text, "%d%n", &notedPid, &consumed) != 1) notedPid = 0;
        bool listRead = false;
        std::optional<int> pid = flockHolder(st, listRead);
        if (!listRead) {
            // Without the kernel's list: a shared lock that can't be had means a
            // holder, who is the one that wrote its number.
            if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) {
                ::flock(fd.get(), LOCK_UN);
            } else if (errno == EWOULDBLOCK) {
                pid = notedPid;
            }
        }
        if (!pid) continue;
        Holder found{*pid, {}};
        if (notedPid == *pid) {
            std::string rest(text + consumed, static_cast<std::size_t>(length) - static_cast<std::size_t>(consumed));
            const auto first = rest.find_first_not_of(' ');
            const auto last = rest.find_last_not_of(" \n");
            if (first != std::string::npos && last != std::string::npos) found.note = rest.substr(first, last - first + 1);
        }
        return found;
    }
    return std::nullopt;
}

void SingleInstanceLock::note(const std::string& text)
{
    if (fd_ >= 0) writeHolder(fd_, text);
    for (const int fd : alsoFds_) writeHolder(fd, text);
}

LockEnvironment LockEnvironment::current()
{
    LockEnvironment environment;
    environment.runtimeDir = environmentValue("XDG_RUNTIME_DIR");
    environment.cacheHome = environmentValue("XDG_CACHE_HOME");
    environment.home = environmentValue("HOME");
    if (environment.home.empty()) {
        if (const passwd* user = ::getpwuid(::geteuid()); user && user->pw_dir) environment.home = user->pw_dir;
    }
    environment.userRuntimeDir = "/run/user/" + std::to_string(::geteuid());
    return environment;
}

SingleInstanceLock::SingleInstanceLock(const std::string& name, const LockEnvironment& environment)
{
    const std::string fileName = name + ".lock";

    // The user's runtime folders are the usual place: private and emptied at
    // log-out. XDG_RUNTIME_DIR is what this start's session says; every start
    // of this user, also one whose environment lacks it (over ssh, from cron),
    // meets in /run/user/<uid>, which only the system makes. Both are locked
    // when they are two folders.
    bool placed = false;
    bool userRuntimeServes = false;
    struct stat lockedFolder {};
    const struct {
        std::string what;
        const std::string& dir;
        bool isUsers;
    } runtimeFolders[] = {
        {"XDG_RUNTIME_DIR '" + environment.runtimeDir + "'", environment.runtimeDir, false},
        {"the user's runtime folder '" + environment.userRuntimeDir + "'", environment.userRuntimeDir, true},
    };
    for (const auto& folder : runtimeFolders) {
        if (folder.dir.empty()) continue;
        const UniqueFd dir = openRuntimeDirectory(folder.what, folder.dir, !folder.isUsers, problems_);
        struct stat st {};
        if (!dir || ::fstat(dir.get(), &st) != 0) continue;
        if (placed && st.st_dev == lockedFolder.st_dev && st.st_ino == lockedFolder.st_ino) {
            userRuntimeServes = userRuntimeServes || folder.isUsers;
            continue;
        }
        const bool locked = placed ? lockAlsoIn(dir.get(), folder.dir, fileName) : lockIn(dir.get(), folder.dir, fileName);
        if (state_ == State::HeldByAnother) return;
        if (!locked) continue;
        if (!placed) lockedFolder = st;
        placed = true;
        userRuntimeServes = userRuntimeServes || folder.isUsers;
    }

    // Without a runtime folder: XDG's cache. A relative XDG_CACHE_HOME is
    // invalid and must be ignored.
    std::string cache;
    if (isAbsolute(environment.cacheHome)) {
        cache = environment.cacheHome;
    } else if (isAbsolute(environment.home)) {
        cache = environment.home + "/.cache";
    }
    if (placed) {
    } else if (cache.empty()) {
        problems_.push_back("there is no cache folder: neither XDG_CACHE_HOME nor HOME is an absolute path");
    } else {
        // ~/.cache itself may be missing on a fresh account; nothing above it is made.
        ::mkdir(cache.c_str(), 0700);
        if (const UniqueFd dir = openPrivateFolder(cache, name, problems_); dir) {
            placed = lockIn(dir.get(), cache + "/" + name, fileName);
            if (state_ == State::HeldByAnother) return;
        }
    }

    // The shared temporary folder is there on every machine and is the same
    // whatever this process's environment says: where /run/user/<uid> is
    // missing (a system without a login manager), its lock keeps an instance
    // started without XDG_RUNTIME_DIR from running beside one of the desktop
    // session. Anyone may have made the folder first, so its owner and type
    // are checked, and one made by someone else is named on stderr.
    const std::string tmpFolder = name + "-" + std::to_string(::geteuid());
    if (userRuntimeServes) {
        noteForeignFolder(environment.sharedTmp, tmpFolder, problems_);
        return;
    }
    const UniqueFd dir = openPrivateFolder(environment.sharedTmp, tmpFolder, problems_);
    const std::string tmpPath = environment.sharedTmp + "/" + tmpFolder;
    if (!placed) {
        if (!dir || !lockIn(dir.get(), tmpPath, fileName)) {
            state_ = State::NoPlace;
            path_.clear();
        }
        return;
    }
    // Already locked in an earlier place; this lock only ever says "another
    // instance", a folder here that doesn't work is no reason to stop.
    if (dir) lockAlsoIn(dir.get(), tmpPath, fileName);
}

bool SingleInstanceLock::lockAlsoIn(int dirFd, const std::string& dir, const std::string& fileName)
{
    const int held = fd_;
    const std::string heldPath = path_;
    fd_ = -1;
    if (lockIn(dirFd, dir, fileName) && state_ == State::HeldByAnother) {
        ::close(held);
        for (const int fd : alsoFds_) ::close(fd);
        alsoFds_.clear();
        return false;
    }
    const bool locked = fd_ >= 0;
    if (locked) alsoFds_.push_back(fd_);
    fd_ = held;
    state_ = State::Acquired;
    path_ = heldPath;
    return locked;
}

bool SingleInstanceLock::lockIn(int dirFd, const std::string& dir, const std::string& fileName)
{
    const std::string path = dir + "/" + fileName;
    // O_NOFOLLOW: a link planted under the lock file's name must not make us
    // create or lock a file elsewhere. O_NONBLOCK: a FIFO there must not hang the start.
    UniqueFd fd(::openat(dirFd, fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
        if (errno == ELOOP) {
            problems_.push_back("the lock file '" + path + "' is a symbolic link, which is not followed; remove it");
        } else {
            problems_.push_back("cannot open the lock file '" + path + "' (" + failed("open", errno) + ")");
        }
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        problems_.push_back("cannot use the lock file '" + path + "' (" + failed("fstat", errno) + ")");
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        problems_.push_back("the lock file '" + path + "' is not a regular file; remove it");
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        problems_.push_back("the lock file '" + path + "' belongs to uid " + std::to_string(st.st_uid) +
                            ", not to this user; remove it");
        return false;
    }
    if (st.st_nlink != 1) {
        problems_.push_back("the lock file '" + path + "' has other hard links; remove it");
        return false;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            state_ = State::HeldByAnother;
            path_ = path;
            return true;
        }
        problems_.push_back("cannot lock '" + path + "' (" + failed("flock", errno) + ")");
        return false;
    }
    state_ = State::Acquired;
    path_ = path;
    writeHolder(fd.get(), "");
    fd_ = fd.release();
    return true;
}

SingleInstanceLock::~SingleInstanceLock()
{
    if (fd_ >= 0) ::close(fd_);
    for (const int fd : alsoFds_) ::close(fd);
}

} // namespace oru
