#pragma once

#include <string>

namespace oru {

/// Where the pen's mouse goes.
enum class PointerBackend {
    XTest,   // X11's XTest on $DISPLAY: an X11 session
    Uinput,  // a virtual input device of the kernel: a Wayland session
    None,    // no desktop to drive (Qt's offscreen or minimal platform)
};

/// The session the driver runs in, as its environment and Qt tell it.
struct PointerSession {
    std::string pointerOption;   // value of --pointer ("xtest", "uinput"), empty when not given
    std::string qtPlatform;      // QGuiApplication::platformName(): "xcb", "wayland", "offscreen", ...
    std::string sessionType;     // $XDG_SESSION_TYPE, empty when unset
    std::string waylandDisplay;  // $WAYLAND_DISPLAY, empty when unset
};

/// --pointer decides when given. Otherwise a Wayland session (XDG_SESSION_TYPE
/// "wayland", WAYLAND_DISPLAY set, or Qt on Wayland) gets uinput, also when Qt
/// itself runs through Xwayland: XTest there reaches only Xwayland's own
/// programs, never the real pointer. An X11 session (Qt on xcb) gets XTest; a
/// platform without a desktop (offscreen, minimal) gets none.
PointerBackend choosePointerBackend(const PointerSession& session);

/// How a compositor spreads an absolute pointer device's range.
enum class PointerSpan {
    /// Over the bounding box of all its outputs: mutter (GNOME Shell), KWin,
    /// wlroots (sway) and X11's input drivers.
    Desktop,
    /// Over one output only: weston binds every absolute device to the output
    /// its udev property WL_OUTPUT names, else to its first output.
    BoardOutput,
};

/// The span of the compositor whose program is named compositor (as
/// /proc/PID/comm gives it); an unknown or empty name spans the desktop.
PointerSpan pointerSpanOf(const std::string& compositor);

/// The program serving the Wayland socket display (a name under runtimeDir,
/// as $WAYLAND_DISPLAY and $XDG_RUNTIME_DIR give them, or an absolute path;
/// empty: "wayland-0"), found through the socket's peer credentials; empty
/// when no compositor answers there.
std::string waylandCompositorName(const std::string& runtimeDir, const std::string& display);

} // namespace oru
