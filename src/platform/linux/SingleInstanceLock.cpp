#include "platform/linux/SingleInstanceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oru {

namespace {

std::string lockDirectory()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache) return cache;
    if (const char* home = std::getenv("HOME"); home && *home) {
        const std::string cache = std::string(home) + "/.cache";
        ::mkdir(cache.c_str(), 0700);
        return cache;
    }
    return {};
}

} // namespace

SingleInstanceLock::SingleInstanceLock(const std::string& name)
{
    const std::string dir = lockDirectory();
    if (dir.empty()) {
        std::fprintf(stderr, "oruDriver: no XDG_RUNTIME_DIR or HOME; starting without the single-instance guard\n");
        acquired_ = true;
        return;
    }
    path_ = dir + "/" + name + ".lock";
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        std::fprintf(stderr, "oruDriver: cannot open lock file '%s': %s; starting without the single-instance guard\n",
                     path_.c_str(), std::strerror(errno));
        acquired_ = true;
        return;
    }
    acquired_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

SingleInstanceLock::~SingleInstanceLock()
{
    if (fd_ >= 0) ::close(fd_);
}

} // namespace oru
