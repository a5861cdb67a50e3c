#include "platform/linux/PointerBackendChoice.h"

#include <gtest/gtest.h>

namespace oru {
namespace {

TEST(PointerBackendChoice, FollowsTheOptionElseTheSession)
{
    using B = PointerBackend;
    struct Row {
        PointerSession session;  // option, Qt platform, XDG_SESSION_TYPE, WAYLAND_DISPLAY
        PointerBackend expected;
    };
    const Row rows[] = {
        // X11 sessions (GNOME on Xorg, Xfce, KDE X11).
        {{"", "xcb", "x11", ""}, B::XTest},
        {{"", "xcb", "", ""}, B::XTest},                     // started outside logind (startx, Xvfb)
        {{"", "xcb", "tty", ""}, B::XTest},                  // startx from a text login
        // Wayland sessions, Qt on Wayland or through Xwayland.
        {{"", "wayland", "wayland", "wayland-0"}, B::Uinput},
        {{"", "xcb", "wayland", "wayland-0"}, B::Uinput},    // QT_QPA_PLATFORM=xcb under Xwayland
        {{"", "xcb", "wayland", ""}, B::Uinput},
        {{"", "xcb", "", "wayland-1"}, B::Uinput},           // a compositor started by hand
        {{"", "wayland", "", ""}, B::Uinput},                // Qt's default socket, wayland-0
        {{"", "wayland-egl", "", "wayland-0"}, B::Uinput},
        // The option wins over the session.
        {{"xtest", "xcb", "wayland", "wayland-0"}, B::XTest},
        {{"uinput", "xcb", "x11", ""}, B::Uinput},
        {{"xtest", "offscreen", "", ""}, B::XTest},
        {{"uinput", "offscreen", "", ""}, B::Uinput},
        // No desktop to drive.
        {{"", "offscreen", "", ""}, B::None},
        {{"", "offscreen", "wayland", "wayland-0"}, B::None},
        {{"", "minimal", "x11", ""}, B::None},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.session.pointerOption + "|" + row.session.qtPlatform + "|" + row.session.sessionType + "|" +
                     row.session.waylandDisplay);
        EXPECT_EQ(choosePointerBackend(row.session), row.expected);
    }
}

} // namespace
} // namespace oru
