#include "platform/linux/ThreadScheduling.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

namespace oru {
namespace {

// The slice the scheduler keeps for a thread, ns, from its sched file; -1
// where the kernel doesn't show it.
long long sliceNs(long threadId)
{
    std::ifstream file("/proc/self/task/" + std::to_string(threadId) + "/sched");
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("se.slice", 0) == 0) return std::stoll(line.substr(line.find(':') + 1));
    }
    return -1;
}

long threadId() { return static_cast<long>(::syscall(SYS_gettid)); }

// Run in a thread of its own, so the test program's main thread keeps its
// scheduling for the other tests.
TEST(ThreadScheduling, ShortSlicesReachThreadsStartedLaterAndKeepTheNiceValue)
{
    std::thread([] {
        ASSERT_EQ(::setpriority(PRIO_PROCESS, 0, 3), 0);
        ASSERT_TRUE(requestShortTimeSlices());
        EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), 3) << "nice value kept";
        long long childSlice = -2;
        std::thread([&] { childSlice = sliceNs(threadId()); }).join();
        const long long ownSlice = sliceNs(threadId());
        if (ownSlice < 0) GTEST_SKIP() << "this kernel doesn't show se.slice";
        // Kernels before 6.12 accept the request and keep their own slice.
        if (ownSlice != 100000) GTEST_SKIP() << "this kernel keeps its slice of " << ownSlice << " ns";
        EXPECT_EQ(childSlice, 100000) << "a thread started afterwards inherits it";
    }).join();
}

} // namespace
} // namespace oru
