#include "platform/windows/WinHidSystem.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WinHidLibraries.h"
#include "platform/windows/WinHidReadPort.h"

#include <dbt.h>
#include <devpropdef.h>

#include <cstdio>
#include <vector>

namespace oru {

namespace {

// DEVPKEY_Device_LastArrivalDate (devpkey.h declares it for linking with uuid.lib).
constexpr DEVPROPKEY kLastArrivalDate = {
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 102};

// The HID interface class, GUID_DEVINTERFACE_HID (hidclass.h).
constexpr GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// A hidden top-level window of the main thread: Windows broadcasts
// DBT_DEVNODES_CHANGED to every top-level window, and sends the arrivals and
// removals of HID interfaces to windows that ask. Either says that something
// changed, not what: the controller compares the lists.
class DeviceChangeMonitor final : public HidDeviceMonitor {
public:
    DeviceChangeMonitor()
    {
        static const ATOM windowClass = [] {
            WNDCLASSEXW windowClassInfo{};
            windowClassInfo.cbSize = sizeof windowClassInfo;
            windowClassInfo.lpfnWndProc = &DeviceChangeMonitor::windowProc;
            windowClassInfo.hInstance = GetModuleHandleW(nullptr);
            windowClassInfo.lpszClassName = L"oruDriverDeviceChanges";
            return RegisterClassExW(&windowClassInfo);
        }();
        window_ = CreateWindowExW(WS_EX_TOOLWINDOW, MAKEINTATOM(windowClass), L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!window_) return;
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kHidInterfaceClass;
        notification_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!notification_) {
            diagnostic("HID arrivals and removals are not reported to the driver (" +
                       windowsErrorText(GetLastError()) +
                       "); it follows the pen tracker through the system's device-change broadcasts only");
        }
    }
    ~DeviceChangeMonitor() override
    {
        if (notification_) UnregisterDeviceNotification(notification_);
        if (window_) DestroyWindow(window_);
    }
    DeviceChangeMonitor(const DeviceChangeMonitor&) = delete;
    DeviceChangeMonitor& operator=(const DeviceChangeMonitor&) = delete;

    bool made() const { return window_ != nullptr; }
    void setOnChange(std::function<void()> onChange) override { onChange_ = std::move(onChange); }
    bool drainChanges() override { return true; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<DeviceChangeMonitor*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != WM_DEVICECHANGE || !self) return DefWindowProcW(window, message, wParam, lParam);
        // A burst of changes becomes one rescan in the controller.
        if ((wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
            self->onChange_) {
            self->onChange_();
        }
        return TRUE;
    }

    HWND window_ = nullptr;
    HDEVNOTIFY notification_ = nullptr;
    std::function<void()> onChange_;
};

class DeviceInfoSet {
public:
    DeviceInfoSet(const WinHidLibraries& libraries, HDEVINFO set) : libraries_(libraries), set_(set) {}
    ~DeviceInfoSet()
    {
        if (*this) libraries_.destroyDeviceInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    explicit operator bool() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
    HDEVINFO get() const { return set_; }

private:
    const WinHidLibraries& libraries_;
    HDEVINFO set_;
};

// The interface's path, or empty when the set can't give it.
std::wstring interfacePath(const WinHidLibraries& libraries, HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface,
                           SP_DEVINFO_DATA& device)
{
    DWORD needed = 0;
    device = {};
    device.cbSize = sizeof device;
    if (libraries.getDeviceInterfaceDetail(set, &interface, nullptr, 0, &needed, &device) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return {};
    }
    // DWORD-aligned storage for the record, whose size field counts only its fixed part.
    std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!libraries.getDeviceInterfaceDetail(set, &interface, detail, needed, nullptr, &device)) return {};
    const std::size_t maxChars = (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    return std::wstring(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
}

// The device's last arrival ("@01dc5e...": a FILETIME in hex), which differs
// for every plug; empty where the system doesn't keep it.
std::string arrivalText(const WinHidLibraries& libraries, HDEVINFO set, SP_DEVINFO_DATA& device)
{
    if (!libraries.getDeviceProperty) return {};
    DEVPROPTYPE type = 0;
    FILETIME arrival{};
    if (!libraries.getDeviceProperty(set, &device, &kLastArrivalDate, &type,
                                     reinterpret_cast<BYTE*>(&arrival), sizeof arrival, nullptr, 0) ||
        type != DEVPROP_TYPE_FILETIME) {
        return {};
    }
    char text[24];
    std::snprintf(text, sizeof text, "@%08lx%08lx", static_cast<unsigned long>(arrival.dwHighDateTime),
                  static_cast<unsigned long>(arrival.dwLowDateTime));
    return text;
}

} // namespace

HidError hidErrorFromWindows(unsigned long code)
{
    const int kept = static_cast<int>(code);
    switch (code) {
    case ERROR_SUCCESS: return {};
    // Reads and opens after an unplug; the pipe codes are what a handle whose
    // far end closed gives (user-mode device stacks, emulators).
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_NO_DATA: return {HidErrorKind::DeviceGone, kept};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return {HidErrorKind::NoAccess, kept};
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_PIPE_BUSY: return {HidErrorKind::Transient, kept};
    default: return {HidErrorKind::Other, kept};
    }
}

WinHidSystem::WinHidSystem(const std::wstring& libraryFolder) : libraries_(WinHidLibraries::load(libraryFolder)) {}

WinHidSystem::~WinHidSystem() = default;

bool WinHidSystem::available() const { return libraries_ != nullptr; }

std::vector<HidInterfaceInfo> WinHidSystem::listInterfaces()
{
    std::vector<HidInterfaceInfo> found;
    if (!libraries_) return found;
    const WinHidLibraries& libraries = *libraries_;
    GUID hidClass{};
    libraries.getHidGuid(&hidClass);
    const DeviceInfoSet set(libraries,
                            libraries.getClassDevs(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) return found;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface{};
        interface.cbSize = sizeof interface;
        if (!libraries.enumDeviceInterfaces(set.get(), nullptr, &hidClass, index, &interface)) break;
        SP_DEVINFO_DATA device{};
        const std::wstring path = interfacePath(libraries, set.get(), interface, device);
        if (path.empty()) continue;
        // Attributes through a query-only handle: keyboards and mice, which
        // Windows holds exclusively, still tell their IDs.
        const WinHandle query = openHidInterface(path, 0);
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!query || !libraries.getAttributes(query.get(), &attributes)) continue;
        HidInterfaceInfo info;
        info.path = narrow(path);
        info.identity = info.path + arrivalText(libraries, set.get(), device);
        info.vendorId = attributes.VendorID;
        info.productId = attributes.ProductID;
        info.version = attributes.VersionNumber;
        found.push_back(std::move(info));
    }
    return found;
}

HidAccess WinHidSystem::probeAccess(const std::string& path, int& errorCode)
{
    const std::wstring widePath = widen(path);
    if (openHidInterface(widePath, GENERIC_READ | GENERIC_WRITE)) {
        errorCode = 0;
        return HidAccess::ReadWrite;
    }
    errorCode = static_cast<int>(::GetLastError());
    if (hidErrorFromWindows(static_cast<unsigned long>(errorCode)).kind == HidErrorKind::DeviceGone) {
        return HidAccess::Missing;
    }
    // Another program may hold it open without sharing writes (a tool that
    // reads it too): reading, which is all the driver does, may still be allowed.
    if (openHidInterface(widePath, GENERIC_READ)) {
        errorCode = 0;
        return HidAccess::ReadWrite;
    }
    return openHidInterface(widePath, 0) ? HidAccess::QueryOnly : HidAccess::Missing;
}

std::uint16_t WinHidSystem::inputReportLength(const std::string& path) { return inputReportInfo(path).length; }

HidInputReportInfo WinHidSystem::inputReportInfo(const std::string& path)
{
    if (!libraries_) return {0, HidDescriptorStatus::Unreadable, {}};
    const WinHandle query = openHidInterface(widen(path), 0);
    if (!query) return {0, HidDescriptorStatus::Unreadable, hidErrorFromWindows(::GetLastError())};
    std::uint16_t length = 0;
    unsigned long error = 0;
    bool malformed = false;
    if (!libraries_->inputReportLength(query.get(), length, error, malformed)) {
        if (malformed) return {0, HidDescriptorStatus::Malformed, {}};
        return {0, HidDescriptorStatus::Unreadable, hidErrorFromWindows(error)};
    }
    if (length == 0) return {0, HidDescriptorStatus::NoInputReport, {}};
    return {length, HidDescriptorStatus::Usable, {}};
}

std::unique_ptr<HidReadPort> WinHidSystem::makeReadPort() { return makeWinHidReadPort(libraries_); }

std::unique_ptr<HidDeviceMonitor> WinHidSystem::openMonitor()
{
    if (!libraries_) return nullptr;
    auto monitor = std::make_unique<DeviceChangeMonitor>();
    if (!monitor->made()) {
        diagnostic("device changes can't be followed: no window for them (" + windowsErrorText(GetLastError()) +
                   "); a pen tracker plugged in later is found at the next start");
        return nullptr;
    }
    return monitor;
}

std::string WinHidSystem::errorText(int code) const { return windowsErrorText(static_cast<unsigned long>(code)); }

} // namespace oru
