// Quit signals in a real (forked) process: kept on the pipe for the event
// loop while the driver runs; once its end has begun, the next one ends the
// process at once through exit, not as a crash.

#include "platform/linux/QuitSignalPipe.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace oru {
namespace {

TEST(QuitSignals, AreKeptForTheLoopThenEndTheProcessAtOnceDuringTheEnd)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        int errPipe[2];
        ASSERT_EQ(::pipe(errPipe), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(errPipe[1], STDERR_FILENO);
            const int fd = installQuitSignalPipe();
            if (fd < 0) ::_exit(2);
            ::raise(signal);  // the handler has run when raise returns
            if (drainQuitSignalPipe(fd) != signal) ::_exit(3);
            endAtOnceOnQuitSignal();
            ::raise(signal);
            ::_exit(4);
        }
        ::close(errPipe[1]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        std::string said;
        char buffer[256];
        for (ssize_t n; (n = ::read(errPipe[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
        ::close(errPipe[0]);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal) << "2: no pipe, 3: signal not kept, 4: not ended at once";
        EXPECT_NE(said.find("ending at once"), std::string::npos) << said;
    }
}

} // namespace
} // namespace oru
