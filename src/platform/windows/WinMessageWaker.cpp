#include "platform/windows/WinMessageWaker.h"

namespace oru {

void WinMessageWaker::setWindow(HWND window)
{
    window_.store(window);
    // A wake-up that came before the window existed is delivered now.
    if (posted_.load()) post();
}

void WinMessageWaker::wake()
{
    if (posted_.exchange(true)) return;
    post();
}

void WinMessageWaker::post()
{
    const HWND window = window_.load();
    // A full queue or a window gone: the next wake-up tries again.
    if (window && !PostMessageW(window, message_, 0, 0)) posted_.store(false);
}

} // namespace oru
