#include "platform/linux/PointerBackendChoice.h"

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

} // namespace oru
