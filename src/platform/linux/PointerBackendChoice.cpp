#include "platform/linux/PointerBackendChoice.h"

#include "platform/linux/UniqueFd.h"

#include <cstring>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>

namespace oru {

PointerBackend choosePointerBackend(const PointerSession& session)
{
    if (session.pointerOption == "xtest") return PointerBackend::XTest;
    if (session.pointerOption == "uinput") return PointerBackend::Uinput;
    // Qt's Wayland plugins are "wayland", "wayland-egl", ...
    const bool qtOnWayland = session.qtPlatform.rfind("wayland", 0) == 0;
    if (session.qtPlatform != "xcb" && !qtOnWayland) return PointerBackend::None;
    if (qtOnWayland || session.sessionType == "wayland" || !session.waylandDisplay.empty()) {
        return PointerBackend::Uinput;
    }
    return PointerBackend::XTest;
}

PointerSpan pointerSpanOf(const std::string& compositor)
{
    return compositor == "weston" ? PointerSpan::BoardOutput : PointerSpan::Desktop;
}

std::string waylandCompositorName(const std::string& runtimeDir, const std::string& display)
{
    const std::string name = display.empty() ? "wayland-0" : display;
    if (runtimeDir.empty() && name.front() != '/') return "";
    const std::string path = name.front() == '/' ? name : runtimeDir + "/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return "";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A connection of our own, closed at once: the compositor sees a client
    // come and go, and the kernel tells who accepted it.
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 || ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return "";
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0) return "";
    std::ifstream comm("/proc/" + std::to_string(peer.pid) + "/comm");
    std::string program;
    std::getline(comm, program);
    return program;
}

} // namespace oru
