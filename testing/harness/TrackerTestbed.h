#pragma once

#include "fakes/EmulatedPenTracker.h"

#include <functional>
#include <string>
#include <sys/types.h>

struct _UMockdevTestbed;

namespace oru::harness {

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
    /// How an unplug reaches the driver.
    enum class UnplugOrder {
        /// As the kernel does it: the open node fails its reads and vanishes,
        /// then udev announces the removal.
        NodeFirst,
        /// udev's "remove" first; waitForRelease() runs before the node goes.
        /// libumockdev-preload (0.17) keeps a slot of its 50-entry descriptor
        /// table, and a socket, for every failed open() of a vanished node, and
        /// aborts the program once the table is full; a reader that retries
        /// the open after a hang-up costs one slot per unplug. Long runs with
        /// many unplugs use this order for most of them.
        AnnouncedFirst,
    };

    /// Unplugs it.
    void unplug(UnplugOrder order = UnplugOrder::NodeFirst, const std::function<void()>& waitForRelease = {});
    bool plugged() const { return plugged_; }
    int plugCount() const { return plugs_; }
    std::string nodePath() const;

    /// Whether process pid holds the latest node open (the driver's reader).
    bool openedBy(pid_t pid) const;

    /// Sends one input report. Returns false when the node's buffer stayed
    /// full for timeoutMs (nobody reads) or the tracker is unplugged.
    bool send(const emulated::Report& report, int timeoutMs = 200);

private:
    std::string rootDir() const;
    void hangUp();

    _UMockdevTestbed* testbed_ = nullptr;
    int plugs_ = 0;
    bool plugged_ = false;
    int deviceFd_ = -1;
    std::string nodeTarget_;  // what the node stands for in the test bed (a pty)
};

} // namespace oru::harness
