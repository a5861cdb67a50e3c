#include "platform/linux/ThreadScheduling.h"

#include <cerrno>
#include <cstdint>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace oru {

namespace {

// The kernel's struct sched_attr, first version (48 bytes); the C library
// has no wrapper for sched_setattr.
struct SchedAttr {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtimeNs;  // for the normal policy: the time slice asked for
    std::uint64_t deadlineNs;
    std::uint64_t periodNs;
};
static_assert(sizeof(SchedAttr) == 48, "struct sched_attr, version 0");

// The shortest slice the scheduler takes, ns.
constexpr std::uint64_t kShortestSliceNs = 100'000;

} // namespace

bool requestShortTimeSlices()
{
    if (::sched_getscheduler(0) != SCHED_OTHER) return false;
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, 0);  // this thread's, on Linux
    if (errno != 0) return false;
    SchedAttr attributes{};
    attributes.size = sizeof attributes;
    attributes.policy = SCHED_OTHER;
    attributes.nice = nice;
    attributes.runtimeNs = kShortestSliceNs;
    return ::syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
}

} // namespace oru
