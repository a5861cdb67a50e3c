#include "platform/windows/WinSingleInstance.h"

namespace oru {

HWND findRunningDriver()
{
    return FindWindowA(kMainWindowClass, kMainWindowCaption);
}

InstanceSemaphore::InstanceSemaphore()
{
    handle_ = CreateSemaphoreA(nullptr, 0, 1, kInstanceSemaphore);
    const DWORD error = GetLastError();
    if (!handle_) {
        error_ = error;
        state_ = State::Unavailable;
    } else if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle_);
        handle_ = nullptr;
        state_ = State::HeldByAnother;
    } else {
        state_ = State::Acquired;
    }
}

InstanceSemaphore::~InstanceSemaphore()
{
    if (handle_) CloseHandle(handle_);
}

} // namespace oru
