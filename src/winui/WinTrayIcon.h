#pragma once

#include "tray/TrayIconLayout.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace oru {

/// The notification-area icon of the main window (Shell_NotifyIconW): a 16 x 16
/// square painted with GDI from the core's layout, "oru" in 9-pixel "Small
/// Fonts", shown at the shell's small-icon size (SM_CXSMICON) pixel for pixel. The shell sends mouse events as callbackMessage to the owner window
/// (version 0 messages: lParam is the mouse message), which opens the menu.
///
/// The shell's answer is not taken at its word: at a slow log-on Explorer may
/// not answer an add within its timeout although the icon comes later, and
/// every later add then fails because the icon exists. An add that fails is
/// followed by a modify, and until one of them is confirmed the owner's timer
/// retryTimer asks again (retry()), as does TaskbarCreated.
class WinTrayIcon {
public:
    /// How the icon reaches the shell: Shell_NotifyIconW, a stand-in in tests.
    using ShellNotify = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);

    /// sizePx: the icon's size, SM_CXSMICON when 0.
    WinTrayIcon(HWND owner, UINT callbackMessage, UINT_PTR retryTimer, ShellNotify notify = &Shell_NotifyIconW,
                int sizePx = 0);
    ~WinTrayIcon();
    WinTrayIcon(const WinTrayIcon&) = delete;
    WinTrayIcon& operator=(const WinTrayIcon&) = delete;

    /// Repaints the square (every time, as the colour setter does) and shows
    /// the new image; the first call adds the icon.
    void paint(const TrayIconLook& look);
    /// The taskbar was created again (explorer restarted), or the retry timer
    /// fired: add the icon again.
    void addAgain();
    /// Whether the shell has confirmed the icon.
    bool shown() const { return added_; }
    /// A balloon titled "oruDriver" (Windows cuts the text at 255 characters).
    void showBalloon(const std::string& text);
    /// The icon leaves the notification area.
    void remove();

    /// The square as painted now (tests, and the shell's add).
    HICON icon() const { return icon_; }

    /// The 16 x 16 square of look as an icon of sizePx x sizePx (16 when 0),
    /// each of its pixels repeated; the caller destroys it.
    static HICON paintIcon(const TrayIconLook& look, int sizePx = 0);

private:
    NOTIFYICONDATAW record(UINT flags) const;
    void add();

    HWND owner_;
    UINT callbackMessage_;
    UINT_PTR retryTimer_;
    ShellNotify notify_;
    int sizePx_;
    HICON icon_ = nullptr;
    bool added_ = false;
};

} // namespace oru
