#pragma once

#include <unistd.h>

#include <utility>

namespace oru {

/// Owns a file descriptor and closes it when it goes; -1 holds none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    /// Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    /// Closes the descriptor held, if any, and holds fd instead.
    void reset(int fd = -1)
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    /// Closes now and returns close(2)'s result: some file systems (NFS)
    /// report late write errors only there, so a written file is closed this
    /// way and checked.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_ = -1;
};

} // namespace oru
