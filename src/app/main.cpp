// Placeholder entry: starts, shows nothing, ends on SIGINT/SIGTERM.
#include <csignal>
#include <unistd.h>

int main()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    int signal = 0;
    sigwait(&set, &signal);
    return 0;
}
