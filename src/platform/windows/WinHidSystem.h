#pragma once

#include "platform/HidSystem.h"
#include "platform/windows/WinHidAdvice.h"

#include <memory>

namespace oru {

struct WinHidLibraries;

/// HID access through SetupAPI (the HID interface class, the interfaces'
/// paths) and hid.dll (attributes, capabilities), both loaded at run time:
/// the program links neither, so a system without them still starts and
/// shows that no pen tracker can be found. Reads are overlapped ReadFile
/// calls on the interface path, one whole input report each.
///
/// Identity: the interface path names the device instance, which Windows
/// derives from the USB port the device sits in, so a device re-plugged into
/// the same port gets the same path. The device's last arrival time (its
/// DEVPKEY_Device_LastArrivalDate, Windows 8 and later) is added where the
/// system has it, which makes the identity differ for every plug.
class WinHidSystem final : public HidSystem {
public:
    /// Loads "SetupApi.dll" and "HID.dll" from the system folder, or from
    /// libraryFolder when one is given, and looks up their entry points;
    /// available() says whether all were found.
    explicit WinHidSystem(const std::wstring& libraryFolder = {});
    ~WinHidSystem() override;

    bool available() const override;
    std::vector<HidInterfaceInfo> listInterfaces() override;
    HidAccess probeAccess(const std::string& path, int& errorCode) override;
    std::uint16_t inputReportLength(const std::string& path) override;
    HidInputReportInfo inputReportInfo(const std::string& path) override;
    std::unique_ptr<HidReadPort> makeReadPort() override;

    /// A monitor with a hidden top-level window of its own on the calling
    /// (main) thread: Windows broadcasts WM_DEVICECHANGE with
    /// DBT_DEVNODES_CHANGED to top-level windows, and sends HID interface
    /// arrivals and removals to the window, which asked for them. Each calls
    /// onChange; every drain counts as a change. nullptr without HID services
    /// or when the window can't be made (said in the debugger's output).
    std::unique_ptr<HidDeviceMonitor> openMonitor() override;

    std::string errorText(int code) const override;

    /// Device Manager, the exclusive opens of other programs and the system
    /// event log (WinHidAdvice).
    const HidAdvice& advice() const override { return advice_; }

private:
    WinHidAdvice advice_;
    std::shared_ptr<const WinHidLibraries> libraries_;  // null when unavailable
};

/// A Windows error code (GetLastError) as the driver judges it: the device
/// gone with its unplug, access refused, resources short for now, or anything
/// else; 0 is no error.
HidError hidErrorFromWindows(unsigned long code);

} // namespace oru
