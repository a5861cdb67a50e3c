#include "platform/windows/WinHidReadPort.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WinHidLibraries.h"
#include "platform/windows/WinHidSystem.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace oru {

namespace {

// What one read may give when the capabilities can't be had: a report's
// length is a 16-bit count.
constexpr std::size_t kLargestReport = 0xFFFF;

WinHandle makeEvent(bool manualReset)
{
    WinHandle event(::CreateEventW(nullptr, manualReset, FALSE, nullptr));
    if (!event) {
        throw std::runtime_error("Cannot create an event for a HID reader: " + windowsErrorText(::GetLastError()) +
                                 " (the process has run out of handles)");
    }
    return event;
}

class WinHidReadPort final : public HidReadPort {
public:
    explicit WinHidReadPort(std::shared_ptr<const WinHidLibraries> libraries)
        : libraries_(std::move(libraries)), stopEvent_(makeEvent(false)), readEvent_(makeEvent(true))
    {
    }
    ~WinHidReadPort() override { close(); }

    bool open(const std::string& path, HidError& error) override
    {
        close();
        WinHandle device = openHidInterface(widen(path), GENERIC_READ, FILE_FLAG_OVERLAPPED);
        if (!device) {
            error = hidErrorFromWindows(::GetLastError());
            return false;
        }
        // HID reads need a buffer that holds a whole report: a smaller one
        // fails the read. Sized here, once per open, never per report.
        std::uint16_t length = 0;
        unsigned long ignored = 0;
        bool malformed = false;
        const bool known = libraries_ && libraries_->inputReportLength(device.get(), length, ignored, malformed);
        buffer_.assign(known && length ? length : kLargestReport, 0);
        device_ = std::move(device);
        error = {};
        return true;
    }

    void close() override
    {
        if (!device_) return;
        finishOutstandingRead();
        device_.reset();
        staged_.store(0, std::memory_order_release);
        askAgain_.store(false, std::memory_order_release);
    }

    bool isOpen() const override { return static_cast<bool>(device_); }

    HidReadResult read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        if (!device_) return {HidReadStatus::Failed, 0, hidErrorFromWindows(ERROR_INVALID_HANDLE)};
        if (length == 0) return {HidReadStatus::Failed, 0, hidErrorFromWindows(ERROR_INSUFFICIENT_BUFFER)};
        // A report that waitForReport found is taken without a second wait.
        const HidReadResult ready = waitForReport(timeoutMs);
        if (ready.status != HidReadStatus::Report) return ready;
        const std::size_t bytes = std::min(staged_.load(std::memory_order_acquire), length);
        std::memcpy(buffer, buffer_.data(), bytes);
        // Until the reader asks the device again, nobody can tell whether the
        // pen's next report is there: a HID device has no look without a read.
        askAgain_.store(true, std::memory_order_release);
        staged_.store(0, std::memory_order_release);
        return {HidReadStatus::Report, bytes, {}};
    }

    HidReadResult waitForReport(int timeoutMs) override
    {
        if (!device_) return {HidReadStatus::Failed, 0, hidErrorFromWindows(ERROR_INVALID_HANDLE)};
        // A wake-up since the last wait ends this one, also when a report
        // is staged: that one stays for the next read.
        if (staged_.load(std::memory_order_acquire) != 0) {
            return woken() ? HidReadResult{HidReadStatus::Woken, 0, {}} : HidReadResult{HidReadStatus::Report, 0, {}};
        }
        if (!outstanding_) {
            if (const HidReadResult refused = issueRead(); refused.status != HidReadStatus::Report) return refused;
        }
        askAgain_.store(false, std::memory_order_release);
        // The stop event first: a wake-up wins over a report that completed
        // at the same time, which stays outstanding for the next wait.
        const HANDLE events[2] = {stopEvent_.get(), readEvent_.get()};
        const DWORD waited = ::WaitForMultipleObjects(
            2, events, FALSE, timeoutMs == kNoTimeout ? INFINITE : static_cast<DWORD>(std::max(timeoutMs, 0)));
        if (waited == WAIT_OBJECT_0) return {HidReadStatus::Woken, 0, {}};
        if (waited == WAIT_TIMEOUT) return {HidReadStatus::TimedOut, 0, {}};
        if (waited != WAIT_OBJECT_0 + 1) {
            return {HidReadStatus::Failed, 0, hidErrorFromWindows(::GetLastError())};
        }
        return collectRead();
    }

    bool reportWaiting() const override
    {
        // The read's event stays set from its completion until the reader
        // collects it; both handles live as long as the port.
        return askAgain_.load(std::memory_order_acquire) || staged_.load(std::memory_order_acquire) != 0 ||
               ::WaitForSingleObject(readEvent_.get(), 0) == WAIT_OBJECT_0;
    }

    void pause(int timeoutMs) override { ::WaitForSingleObject(stopEvent_.get(), static_cast<DWORD>(timeoutMs)); }

    void wake() override { ::SetEvent(stopEvent_.get()); }

    HidError goneError() const override { return hidErrorFromWindows(ERROR_DEVICE_NOT_CONNECTED); }

private:
    // Whether wake() was called since the last wait; takes the wake-up.
    bool woken() { return ::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0; }

    // Starts the one outstanding read; Report when it was accepted.
    HidReadResult issueRead()
    {
        ::ResetEvent(readEvent_.get());
        overlapped_ = {};
        overlapped_.hEvent = readEvent_.get();
        // A read that completes at once still sets the event and is collected
        // like one that completes later.
        if (!::ReadFile(device_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, &overlapped_) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            return failure(::GetLastError());
        }
        outstanding_ = true;
        return {HidReadStatus::Report, 0, {}};
    }

    // The completed read: staged for read(), or why it failed.
    HidReadResult collectRead()
    {
        DWORD bytes = 0;
        const bool done = ::GetOverlappedResult(device_.get(), &overlapped_, &bytes, FALSE);
        const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
        if (!done && error == ERROR_IO_INCOMPLETE) return {HidReadStatus::TimedOut, 0, {}};
        outstanding_ = false;
        ::ResetEvent(readEvent_.get());
        if (!done) {
            // Someone else cancelled it: issue the next one.
            if (error == ERROR_OPERATION_ABORTED) return {HidReadStatus::TimedOut, 0, {}};
            return failure(error);
        }
        // No HID read completes empty; a handle whose far end went away does.
        if (bytes == 0) return gone();
        staged_.store(bytes, std::memory_order_release);
        return {HidReadStatus::Report, 0, {}};
    }

    HidReadResult failure(DWORD code)
    {
        const HidError error = hidErrorFromWindows(code);
        if (error.kind == HidErrorKind::DeviceGone) return gone();
        return {HidReadStatus::Failed, 0, error};
    }

    HidReadResult gone()
    {
        close();
        return {HidReadStatus::Gone, 0, {}};
    }

    // The buffer must outlive the read: cancel it and wait until the system
    // is done with it.
    void finishOutstandingRead()
    {
        if (!outstanding_) return;
        ::CancelIoEx(device_.get(), &overlapped_);
        DWORD bytes = 0;
        ::GetOverlappedResult(device_.get(), &overlapped_, &bytes, TRUE);
        outstanding_ = false;
        ::ResetEvent(readEvent_.get());
    }

    std::shared_ptr<const WinHidLibraries> libraries_;
    WinHandle stopEvent_;  // auto-reset: one wake-up ends one wait
    WinHandle readEvent_;  // manual reset: set from a read's completion until it is collected
    WinHandle device_;
    OVERLAPPED overlapped_{};
    bool outstanding_ = false;
    std::vector<std::uint8_t> buffer_;
    std::atomic<std::size_t> staged_{0};  // bytes of a completed read not yet taken by read()
    std::atomic<bool> askAgain_{false};   // a report was taken; the device not asked again yet
};

} // namespace

std::unique_ptr<HidReadPort> makeWinHidReadPort(std::shared_ptr<const WinHidLibraries> libraries)
{
    return std::make_unique<WinHidReadPort>(std::move(libraries));
}

} // namespace oru
