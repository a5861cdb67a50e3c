#pragma once

#include <windows.h>

namespace oru {

/// The driver's main window as a second start looks for it: window class
/// "TMainForm", caption "oru USB Driver".
inline constexpr char kMainWindowClass[] = "TMainForm";
inline constexpr char kMainWindowCaption[] = "oru USB Driver";
/// The single-instance semaphore's name.
inline constexpr char kInstanceSemaphore[] = "oruDriver";

/// The running driver's main window of this desktop, or null.
HWND findRunningDriver();

/// The semaphore "oruDriver" (initial count 0, maximum 1, default security),
/// held for the life of the process: Windows drops it with the process, so a
/// crashed driver never blocks the next start.
class InstanceSemaphore {
public:
    enum class State {
        Acquired,       // this process is the one instance
        HeldByAnother,  // another process holds it: end silently
        Unavailable,    // it can't be created: the start goes on without the guard
    };

    InstanceSemaphore();
    ~InstanceSemaphore();
    InstanceSemaphore(const InstanceSemaphore&) = delete;
    InstanceSemaphore& operator=(const InstanceSemaphore&) = delete;

    State state() const { return state_; }
    /// GetLastError() of a failed creation, else 0.
    DWORD error() const { return error_; }

private:
    HANDLE handle_ = nullptr;
    State state_ = State::Unavailable;
    DWORD error_ = 0;
};

} // namespace oru
