#pragma once

#include "platform/MainThreadWaker.h"

#include <windows.h>

#include <atomic>

namespace oru {

/// Wakes the main thread by posting a private message to a window of it; the
/// window's procedure then runs the pending work. Each wake-up is one posted
/// message (a few bytes in the thread's queue, no allocation of ours); wake-ups
/// already waiting are not posted again, so a flood of reports can't fill the
/// queue (Windows allows 10,000 posted messages per thread).
class WinMessageWaker final : public MainThreadWaker {
public:
    /// message: what the window's procedure answers with consume() and the
    /// pending work. The window may be set later; wake-ups before are kept.
    explicit WinMessageWaker(UINT message, HWND window = nullptr) : message_(message), window_(window) {}

    void setWindow(HWND window);
    void wake() override;
    void consume() override { posted_.store(false); }

private:
    void post();

    const UINT message_;
    std::atomic<HWND> window_;
    std::atomic<bool> posted_{false};
};

} // namespace oru
