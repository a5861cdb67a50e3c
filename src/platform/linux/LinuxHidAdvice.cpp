// What an administrator does on Linux about a pen tracker the driver can't
// use: udev's rule for the logged-in user's access, the hidraw node, the
// kernel's log.

#include "device/PenTrackerAttachment.h"
#include "platform/linux/LinuxHidAdvice.h"

namespace oru {

std::string LinuxHidAdvice::unavailableAdvice() const
{
    return "udev is not usable here (no /sys or no udev).";
}

std::string LinuxHidAdvice::grantAccessAdvice() const
{
    return std::string("Install the udev rule ") + kPenTrackerUdevRule + " into /etc/udev/rules.d/ (sudo cp packaging/" +
           kPenTrackerUdevRule + " /etc/udev/rules.d/ && sudo udevadm control --reload), then unplug the pen "
           "tracker and plug it in again.";
}

std::string LinuxHidAdvice::noAccessNotice() const
{
    return std::string("Kalem izleyici bulundu ama okunamıyor. Yöneticinize ") + kPenTrackerUdevRule +
           " udev kuralını kurdurun, sonra izleyiciyi çıkarıp yeniden takın.";
}

std::string LinuxHidAdvice::refusedAccessAdvice(const std::string& path) const
{
    return "its file permissions allow it, so a security policy (AppArmor, SELinux or a sandbox) refuses it: "
           "allow the driver to read and write " + path + ".";
}

std::string LinuxHidAdvice::unopenableNodeAdvice(const std::string& path) const
{
    return "check that " + path + " is the hidraw character device udev made for it (ls -l " + path + ").";
}

std::string LinuxHidAdvice::deviceErrorsAdvice() const
{
    return "look for USB errors in the kernel log (journalctl -k).";
}

} // namespace oru
