#pragma once

#include "fakes/EmulatedPenTracker.h"

#include <string>
#include <sys/types.h>

struct _UMockdevTestbed;

namespace oru::demo {

/// The emulated pen tracker inside a umockdev test bed. Making one sets
/// $UMOCKDEV_DIR in this process's environment; a program started afterwards
/// with libumockdev-preload sees the tracker as a hidraw device and can be
/// told of plugs and unplugs.
class TrackerTestbed {
public:
    TrackerTestbed();
    ~TrackerTestbed();
    TrackerTestbed(const TrackerTestbed&) = delete;
    TrackerTestbed& operator=(const TrackerTestbed&) = delete;

    /// Plugs the tracker in. Every plug is a new kernel device: the next
    /// hidraw number and a new hid instance, as on real hardware.
    void plug();
    /// Unplugs it: the node hangs up (reads fail), then udev says "remove".
    void unplug();
    bool plugged() const { return plugged_; }
    int plugCount() const { return plugs_; }
    std::string nodePath() const;

    /// Whether process pid holds the current node open (the driver's reader).
    bool openedBy(pid_t pid) const;

    /// Sends one input report. Returns false when the node's buffer stayed
    /// full for timeoutMs (nobody reads) or the tracker is unplugged.
    bool send(const emulated::Report& report, int timeoutMs = 200);

private:
    std::string rootDir() const;

    _UMockdevTestbed* testbed_ = nullptr;
    int plugs_ = 0;
    bool plugged_ = false;
    int deviceFd_ = -1;
    std::string nodeTarget_;  // what the node stands for in the test bed (a pty)
};

} // namespace oru::demo
