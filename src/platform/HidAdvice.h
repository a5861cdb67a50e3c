#pragma once

#include <string>

namespace oru {

/// What an administrator can do about the pen tracker when it can't be used,
/// in the platform's own terms (its tools, rules and logs): English sentences
/// for the programs' lines on stderr, and the one notice the user sees
/// (Turkish). Each HID backend has its own (platform/linux/LinuxHidAdvice,
/// platform/windows/WinHidAdvice); these defaults name no platform's tool.
class HidAdvice {
public:
    virtual ~HidAdvice() = default;

    /// Why HID devices can't be listed at all (available() is false).
    virtual std::string unavailableAdvice() const { return "this system's HID devices cannot be listed."; }
    /// The logged-in user may not open the tracker's node: how to grant it,
    /// and what to do then.
    virtual std::string grantAccessAdvice() const
    {
        return "Give the logged-in user read and write access to the pen tracker, then unplug it and plug it in "
               "again.";
    }
    /// The node's permissions allow it, yet opening it is refused: what refuses it.
    virtual std::string refusedAccessAdvice(const std::string& path) const
    {
        return "its permissions allow it, so a security policy of the system refuses it: allow the driver to "
               "read and write " + path + ".";
    }
    /// The node won't open for another reason: what to look at.
    virtual std::string unopenableNodeAdvice(const std::string& path) const
    {
        return "check that " + path + " is the pen tracker's device.";
    }
    /// The notice the user sees (Turkish) when the pen tracker was found but
    /// can't be opened: what to have done about it.
    virtual std::string noAccessNotice() const
    {
        return "Kalem izleyici bulundu ama okunamıyor. Yöneticinizden izleyiciye okuma ve yazma izni vermesini "
               "isteyin, sonra izleyiciyi çıkarıp yeniden takın.";
    }
    /// The device keeps failing: where the system logs its errors.
    virtual std::string deviceErrorsAdvice() const { return "look for USB errors in the system's log."; }
};

} // namespace oru
