#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace oru {

/// Why the driver must not start: it runs as root (effectiveUid 0) while the
/// home folder, or the folder its settings or cache would go into, belongs to
/// another user (sudo with that user's HOME). Whatever it made there would
/// belong to root and lock the user out of their own settings. The arguments
/// are HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME as set (empty when unset).
/// Nothing is made or changed by the check.
std::optional<std::string> rootRunForAnotherUser(uid_t effectiveUid, const std::string& home,
                                                 const std::string& configHome, const std::string& cacheHome);

/// Why there is no graphical session to start in: neither DISPLAY nor
/// WAYLAND_DISPLAY is set, or DISPLAY names an X server that can't be
/// reached. A platform the caller chose (QT_QPA_PLATFORM, e.g. "offscreen")
/// is taken as it is.
std::optional<std::string> missingGraphicalSession(const std::string& display, const std::string& waylandDisplay,
                                                   const std::string& qpaPlatform);

} // namespace oru
