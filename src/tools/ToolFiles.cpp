#include "tools/ToolFiles.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include "platform/linux/StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>
#endif

namespace oru {

#ifdef _WIN32

void prepareStandardStreams()
{
    ::_setmode(kStandardInputFd, _O_BINARY);
    ::_setmode(kStandardOutputFd, _O_BINARY);
    ::_setmode(kStandardErrorFd, _O_BINARY);
}

int openForReading(const char* path, int& error)
{
    const int fd = ::_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd >= 0) {
        error = 0;
        return fd;
    }
    error = errno;
    struct _stat64 st {};
    if (error == EACCES && ::_stat64(path, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR) error = EISDIR;
    return -1;
}

// The C runtime counts in unsigned int; a larger request reads or writes part.
std::ptrdiff_t readSome(int fd, char* buffer, std::size_t bytes)
{
    int n;
    do {
        n = ::_read(fd, buffer, static_cast<unsigned>(bytes < INT_MAX ? bytes : INT_MAX));
    } while (n < 0 && errno == EINTR);
    return n;
}

std::ptrdiff_t writeSome(int fd, const char* buffer, std::size_t bytes)
{
    int n;
    do {
        n = ::_write(fd, buffer, static_cast<unsigned>(bytes < INT_MAX ? bytes : INT_MAX));
    } while (n < 0 && errno == EINTR);
    return n;
}

#else

void prepareStandardStreams() { occupyClosedStandardDescriptors(); }

int openForReading(const char* path, int& error)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    error = fd < 0 ? errno : (::fstat(fd, &st) != 0 ? errno : (S_ISDIR(st.st_mode) ? EISDIR : 0));
    if (error && fd >= 0) ::close(fd);
    return error ? -1 : fd;
}

std::ptrdiff_t readSome(int fd, char* buffer, std::size_t bytes)
{
    ssize_t n;
    do {
        n = ::read(fd, buffer, bytes);
    } while (n < 0 && errno == EINTR);
    return n;
}

std::ptrdiff_t writeSome(int fd, const char* buffer, std::size_t bytes)
{
    ssize_t n;
    do {
        n = ::write(fd, buffer, bytes);
    } while (n < 0 && errno == EINTR);
    return n;
}

#endif

} // namespace oru
