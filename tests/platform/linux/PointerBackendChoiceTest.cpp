#include "platform/linux/PointerBackendChoice.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

TEST(PointerBackendChoice, NamesTheProgramServingTheWaylandSocket)
{
    // This test program stands in for the compositor: it listens on the socket.
    char dir[] = "/tmp/oru-wayland.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = std::string(dir) + "/wayland-7";
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    std::string self;
    std::getline(std::ifstream("/proc/self/comm"), self);

    EXPECT_EQ(waylandCompositorName(dir, "wayland-7"), self);
    EXPECT_EQ(waylandCompositorName("/elsewhere", path), self);  // an absolute WAYLAND_DISPLAY
    EXPECT_EQ(waylandCompositorName(dir, ""), "");               // wayland-0: nobody listens
    EXPECT_EQ(waylandCompositorName("", "wayland-7"), "");       // no runtime folder to look in
    EXPECT_EQ(pointerSpanOf("weston"), PointerSpan::BoardOutput);
    EXPECT_EQ(pointerSpanOf(self), PointerSpan::Desktop);
    ::close(listener);
    ::unlink(path.c_str());
    ::rmdir(dir);
}

} // namespace
} // namespace oru
