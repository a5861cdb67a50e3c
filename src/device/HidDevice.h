#pragma once

#include "device/HidEvents.h"
#include "device/HidReadProblem.h"
#include "platform/HidSystem.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace oru {

class MainThreadHandoff;
class THidDeviceReadThread;

/// Identity and path of one HID interface.
struct THidPnPInfo {
    /// Identity across rescans: two records stand for the same device exactly
    /// when their InstanceIds are equal. Changes with every plug.
    std::string InstanceId;
    /// The node every channel is opened by.
    std::string InterfacePath;
};

/// The capabilities the driver uses.
struct THidCaps {
    /// Bytes of one input report as read, counting the leading report-ID byte.
    std::uint16_t InputReportByteLength = 0;
};

/// One HID interface found by the controller: its identity and IDs, whether
/// it is still present and whether a user holds it, its report handlers and
/// its reader thread. Made, listed and destroyed by THidDeviceController;
/// everything here runs on the main thread unless said otherwise.
///
/// States: free (present, not claimed), claimed, gone and held (claimed, no
/// longer present: the holder must release it, which destroys it).
class THidDevice {
public:
    /// WaitSlice limits, milliseconds; values outside are ignored.
    static constexpr std::int32_t kMinWaitSliceMs = 10;
    static constexpr std::int32_t kMaxWaitSliceMs = 10000;
    static constexpr std::int32_t kDefaultWaitSliceMs = 100;

    ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    /// The controller that listed the record.
    THidDeviceController* owner() const { return owner_; }
    const THidPnPInfo& PnPInfo() const { return pnpInfo_; }
    const std::string& InstanceId() const { return pnpInfo_.InstanceId; }
    const std::string& InterfacePath() const { return pnpInfo_.InterfacePath; }
    std::uint16_t VendorID() const { return vendorId_; }
    std::uint16_t ProductID() const { return productId_; }
    std::uint16_t VersionNumber() const { return version_; }

    /// Still found by the latest rescan. Any thread.
    bool Present() const { return present_.load(std::memory_order_acquire); }
    /// A user holds the record. Any thread.
    bool Claimed() const { return claimed_.load(std::memory_order_acquire); }
    /// True only while OnArrival or OnRemoval runs for this record.
    bool InPlugCallback() const { return inPlugCallback_.load(std::memory_order_acquire); }
    /// Present and (Claimed or InPlugCallback): channels open only then. Any thread.
    bool Accessible() const { return Present() && (Claimed() || InPlugCallback()); }
    /// Whether the latest open of the node obtained read-write access.
    bool ReadWriteAccess() const { return readWriteAccess_.load(std::memory_order_acquire); }
    /// The system's error number of the latest refused read-write open, else 0.
    int accessError() const { return accessError_; }

    /// Longest wait of the reader before it looks at its stop request again, ms. Any thread.
    std::int32_t WaitSlice() const { return waitSlice_.load(std::memory_order_relaxed); }
    /// Accepts 10 to 10000 ms; ignores anything else.
    void setWaitSlice(std::int32_t ms);

    const THidDataEvent& OnReport() const { return onReport_; }
    /// Unset: stops the reader first. Then stores the handler and starts a
    /// reader if the record can be read (see StartReader); a running reader
    /// stays and uses the new handler from its next report on.
    void setOnReport(const THidDataEvent& handler);
    const THidDataErrorEvent& OnReportError() const { return onReportError_; }
    void setOnReportError(const THidDataErrorEvent& handler) { onReportError_ = handler; }
    const THidPlugEvent& OnUnplugged() const { return onUnplugged_; }
    void setOnUnplugged(const THidPlugEvent& handler) { onUnplugged_ = handler; }
    const THidReadProblemEvent& OnReadProblem() const { return onReadProblem_; }
    /// Called on the main thread when the record, claimed and with read-write
    /// access, can't be read after all; once per distinct problem for the
    /// life of the record (one plug), however often it is claimed again.
    void setOnReadProblem(const THidReadProblemEvent& handler) { onReadProblem_ = handler; }
    /// What kept the latest attempt from reading; none once a report came.
    const HidReadProblem& readProblem() const { return readProblem_; }

    /// Opens the node for an access check when the record is accessible;
    /// sets ReadWriteAccess. The node is closed again at once: a record holds
    /// no open handle outside its reader. Result: whether the node opened.
    bool OpenControlChannel();
    /// Input report length, from the report descriptor fetched on first need.
    /// 0 when the descriptor can't be read (tried again at the next call).
    THidCaps QueryCaps();

    /// The device went away: closes the reader's channel (the reader notices
    /// at once), clears Present, calls OnUnplugged once and clears it. Does
    /// not stop the reader.
    void HandleUnplug();

    /// Starts a reader when OnReport is set and the record is Present,
    /// Claimed and has ReadWriteAccess, unless one is attached already. A
    /// record whose report descriptor gives no input report length gets no
    /// reader (it would have nothing to read into): that is a read problem,
    /// and the next StartReader fetches the descriptor again.
    void StartReader();
    /// Stops the reader and waits for its end while running the hand-offs it
    /// queued (so its last report still reaches OnReport). Must not be called
    /// from inside this record's own report handler.
    void StopReader();
    bool hasReader() const { return reader_ != nullptr; }
    /// Whether a report waits in the device that its reader has not read yet
    /// (the reader held up on a busy machine).
    bool reportWaiting() const;

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;

    /// Fails with EControllerError "Device cannot be opened" when the node
    /// can't be opened even for an access check.
    THidDevice(THidDeviceController& owner, HidSystem& system, MainThreadHandoff& handoff,
               const HidInterfaceInfo& info, const THidDataEvent& onReport, const THidPlugEvent& onUnplugged);

    /// Read-write open and close of the node; false when it can't be opened at all.
    bool probeAccess();
    /// Deliveries are run but handlers are no longer called (controller shutdown).
    bool deliveriesMuted() const;
    /// Main thread: records the latest read problem and tells OnReadProblem
    /// of one it wasn't told yet.
    void noteReadProblem(const HidReadProblem& problem);

    THidDeviceController* owner_;
    HidSystem& system_;
    MainThreadHandoff& handoff_;
    THidPnPInfo pnpInfo_;
    std::uint16_t vendorId_;
    std::uint16_t productId_;
    std::uint16_t version_;

    std::atomic<bool> present_{true};
    std::atomic<bool> claimed_{false};
    std::atomic<bool> inPlugCallback_{false};
    std::atomic<bool> readWriteAccess_{false};
    int accessError_ = 0;
    std::atomic<std::int32_t> waitSlice_{kDefaultWaitSliceMs};
    std::uint16_t inputReportLength_ = 0;  // 0 until the descriptor was read
    HidReadProblem descriptorProblem_;     // why inputReportLength_ is 0, once asked
    HidReadProblem readProblem_;
    HidReadProblem toldReadProblem_;

    THidDataEvent onReport_;
    THidDataErrorEvent onReportError_;
    THidPlugEvent onUnplugged_;
    THidReadProblemEvent onReadProblem_;
    std::unique_ptr<THidDeviceReadThread> reader_;
};

} // namespace oru
