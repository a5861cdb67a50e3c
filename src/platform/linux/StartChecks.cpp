#include "platform/linux/StartChecks.h"

#include "platform/linux/FileRegistryStore.h"

#include <X11/Xlib.h>

#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>

namespace oru {

namespace {

std::string userName(uid_t uid)
{
    if (const passwd* user = ::getpwuid(uid); user && user->pw_name) return user->pw_name;
    return "uid " + std::to_string(uid);
}

/// The folder that holds path, or path itself: the nearest part of it that
/// exists, which is where a run would make its folders.
std::optional<std::pair<std::filesystem::path, uid_t>> nearestExistingOwner(std::filesystem::path path)
{
    while (!path.empty()) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) return std::pair{path, st.st_uid};
        if (path == path.parent_path()) break;
        path = path.parent_path();
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> rootRunForAnotherUser(uid_t effectiveUid, const std::string& home,
                                                 const std::string& configHome, const std::string& cacheHome)
{
    if (effectiveUid != 0) return std::nullopt;
    std::filesystem::path cache;
    if (!cacheHome.empty() && cacheHome.front() == '/') {
        cache = cacheHome;
    } else if (!home.empty() && home.front() == '/') {
        cache = std::filesystem::path(home) / ".cache";
    }
    const std::filesystem::path places[] = {
        home.empty() || home.front() != '/' ? std::filesystem::path() : std::filesystem::path(home),
        FileRegistryStore::storeDirectoryFor(configHome.empty() ? nullptr : configHome.c_str(),
                                             home.empty() ? nullptr : home.c_str()),
        cache,
    };
    for (const auto& place : places) {
        if (place.empty()) continue;
        const auto owner = nearestExistingOwner(place);
        if (!owner || owner->second == 0) continue;
        const std::string user = userName(owner->second);
        return "refusing to run as root: '" + owner->first.string() + "' belongs to " + user +
               ", and settings written by root there would lock " + user +
               " out of them. Start oru-driver as that user, without sudo; to reach the pen tracker without root, "
               "install the udev rule 70-oru-pen-tracker.rules (docs/administration.md, \"Pen tracker access without root\") "
               "and plug the pen tracker in again.";
    }
    return std::nullopt;
}

std::optional<std::string> missingGraphicalSession(const std::string& display, const std::string& waylandDisplay,
                                                   const std::string& qpaPlatform)
{
    if (!qpaPlatform.empty()) return std::nullopt;
    if (display.empty() && waylandDisplay.empty()) {
        return "no graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set. The driver needs an X11 or "
               "Wayland desktop session to show its tray icon and move the pointer; start it from the desktop "
               "session (its menu entry or the session's autostart), not from a text console, ssh or a system "
               "service.";
    }
    if (!display.empty() && waylandDisplay.empty()) {
        // Qt would abort (status 134) on a display it can't open; say why instead.
        Display* x = ::XOpenDisplay(display.c_str());
        if (!x) {
            return "cannot open the X display '" + display +
                   "'. The driver needs an X11 desktop session; start it from that session, or check that DISPLAY "
                   "and XAUTHORITY name the running X server.";
        }
        ::XCloseDisplay(x);
    }
    return std::nullopt;
}

} // namespace oru
