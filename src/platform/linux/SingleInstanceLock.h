#pragma once

#include <optional>
#include <string>
#include <vector>

namespace oru {

/// The parts of the user's environment the lock place is chosen from.
struct LockEnvironment {
    std::string runtimeDir;            // XDG_RUNTIME_DIR as set (may be empty or relative)
    std::string cacheHome;             // XDG_CACHE_HOME as set
    std::string home;                  // HOME, else the home directory of the user database
    std::string userRuntimeDir;        // /run/user/<uid>: made by the system at log-in, whatever the environment says
    std::string sharedTmp = "/tmp";    // the machine's shared temporary folder

    /// This process's environment.
    static LockEnvironment current();
};

/// Holds an flock on a per-user lock file for the life of the process. The
/// kernel drops the lock when the process dies, so a crash never blocks the
/// next start (a named semaphore would).
class SingleInstanceLock {
public:
    enum class State {
        Acquired,       // this process holds the lock
        HeldByAnother,  // another instance of this user holds it
        NoPlace,        // no place for the lock works; problems() says why
    };

    /// Locks "<name>.lock" in the user's runtime folders: $XDG_RUNTIME_DIR and
    /// /run/user/<uid>, each one that is a directory of this user nobody else
    /// can write to (both when they are two folders). /run/user/<uid> is there
    /// for every logged-in user whatever a start's environment says, and only
    /// the system can make it, so every start of this user meets there and no
    /// other user can occupy it. Where neither works: a private folder
    /// "<name>" in the user's cache directory ($XDG_CACHE_HOME or ~/.cache),
    /// else a private folder "<name>-<uid>" in the shared temporary folder.
    /// Without /run/user/<uid> the shared temporary folder's lock is taken as
    /// well, so instances started with different environments still find
    /// each other; a folder there made by another user is named in
    /// problems() wherever it is seen. A private folder is made with mode 0700
    /// and must not be a symbolic link or belong to someone else; the lock
    /// file must be a regular file of this user and is never reached through
    /// a symbolic link.
    explicit SingleInstanceLock(const std::string& name, const LockEnvironment& environment = LockEnvironment::current());
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    /// The process that holds this user's lock "<name>.lock" in any of the
    /// places above, as the kernel's list of locks (/proc/locks) says, without
    /// taking it; nullopt when nobody holds it. note is what the holder left
    /// with note(), empty when nothing or a former holder's.
    struct Holder {
        int pid = 0;
        std::string note;
    };
    static std::optional<Holder> holder(const std::string& name,
                                        const LockEnvironment& environment = LockEnvironment::current());
    /// Leaves a word for later starts in the lock files held (one line, no
    /// newline), which holder() reads back.
    void note(const std::string& text);

    State state() const { return state_; }
    /// The lock file used: held, or held by the other instance.
    const std::string& path() const { return path_; }
    /// Why places were passed over, one English sentence each, in the order tried.
    const std::vector<std::string>& problems() const { return problems_; }

private:
    /// Locks name in the open folder dirFd (whose path is dir); false to try the next place.
    bool lockIn(int dirFd, const std::string& dir, const std::string& name);
    /// Locks name in a further folder beside the one held; false when the
    /// instance there holds it (state_ and path_ then say so).
    bool lockAlsoIn(int dirFd, const std::string& dir, const std::string& name);

    int fd_ = -1;
    std::vector<int> alsoFds_;  // the locks taken beside fd_
    State state_ = State::NoPlace;
    std::string path_;
    std::vector<std::string> problems_;
};

} // namespace oru
