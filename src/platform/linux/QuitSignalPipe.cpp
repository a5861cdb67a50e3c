#include "platform/linux/QuitSignalPipe.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

namespace oru {

namespace {

int writeFd = -1;
const char* endsAtOnceLine = kDriverEndsAtOnceLine;
std::size_t endsAtOnceLength = std::strlen(kDriverEndsAtOnceLine);
volatile std::sig_atomic_t endAtOnce = 0;

void onQuitSignal(int signal)
{
    if (endAtOnce) {
        // Only async-signal-safe calls from here on: write and _exit.
        [[maybe_unused]] const ssize_t said = ::write(STDERR_FILENO, endsAtOnceLine, endsAtOnceLength);
        ::_exit(128 + signal);
    }
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(writeFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

int installQuitSignalPipe(const char* atOnceLine)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    writeFd = fds[1];
    endsAtOnceLine = atOnceLine;
    endsAtOnceLength = std::strlen(atOnceLine);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    return fds[0];
}

int drainQuitSignalPipe(int readFd)
{
    unsigned char buffer[16];
    int last = 0;
    ssize_t n;
    while ((n = ::read(readFd, buffer, sizeof buffer)) > 0) last = buffer[n - 1];
    return last;
}

void endAtOnceOnQuitSignal()
{
    endAtOnce = 1;
}

} // namespace oru
