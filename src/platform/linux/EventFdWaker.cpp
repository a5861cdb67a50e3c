#include "platform/linux/EventFdWaker.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

namespace oru {

EventFdWaker::EventFdWaker() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (fd_ < 0) {
        throw std::runtime_error(std::string("Cannot create an eventfd for the main loop: ") + std::strerror(errno) +
                                 " (raise the process's file limit)");
    }
}

EventFdWaker::~EventFdWaker() { ::close(fd_); }

void EventFdWaker::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void EventFdWaker::consume()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
}

} // namespace oru
