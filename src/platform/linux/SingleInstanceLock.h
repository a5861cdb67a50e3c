#pragma once

#include <string>

namespace oru {

/// Holds an flock on a per-user lock file for the life of the process. The
/// kernel drops the lock when the process dies, so a crash never blocks the
/// next start (a named semaphore would).
class SingleInstanceLock {
public:
    /// Lock file "<name>.lock" in $XDG_RUNTIME_DIR, else in the user's cache
    /// directory ($XDG_CACHE_HOME or ~/.cache).
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    /// True when this process holds the lock; false when another instance does.
    /// When no lock file can be made at all, the start goes on unguarded (true).
    bool acquired() const { return acquired_; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    bool acquired_ = false;
    std::string path_;
};

} // namespace oru
