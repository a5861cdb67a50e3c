// What an administrator does on Windows about a pen tracker the driver can't
// use: Device Manager, the programs that hold a device exclusively, the
// system event log.

#include "platform/windows/WinHidAdvice.h"

namespace oru {

std::string WinHidAdvice::unavailableAdvice() const
{
    return "Windows' HID services are missing (HID.dll or SetupApi.dll, or one of their functions, could not be "
           "loaded): repair Windows (sfc /scannow in an administrator's command prompt).";
}

std::string WinHidAdvice::grantAccessAdvice() const
{
    return "Close every other program that uses the pen tracker (another whiteboard driver, a HID tool), then "
           "unplug the pen tracker and plug it in again.";
}

std::string WinHidAdvice::noAccessNotice() const
{
    return "Kalem izleyici bulundu ama açılamıyor. İzleyiciyi kullanan başka bir programı (başka bir tahta "
           "sürücüsü gibi) kapatın, sonra izleyiciyi çıkarıp yeniden takın.";
}

std::string WinHidAdvice::refusedAccessAdvice(const std::string& path) const
{
    return "Windows refuses to open it for reading, so another program holds it exclusively or a security "
           "policy (device installation restrictions, an endpoint protection product) blocks " + path +
           ": close that program or allow the driver to read the device.";
}

std::string WinHidAdvice::unopenableNodeAdvice(const std::string& path) const
{
    return "check in Device Manager (devmgmt.msc, Human Interface Devices) that the pen tracker works without a "
           "warning sign; its interface is " + path + ".";
}

std::string WinHidAdvice::deviceErrorsAdvice() const
{
    return "look for USB errors in Event Viewer (eventvwr.msc, Windows Logs > System) and in Device Manager; "
           "try another USB port or cable.";
}

} // namespace oru
