#pragma once

// hid.dll and SetupAPI, loaded at run time: the entry points the HID backend
// calls, found by name. Nothing here is linked against either library.

#include <windows.h>
#include <setupapi.h>
#include <hidsdi.h>
#include <hidpi.h>

#include <memory>
#include <string>

namespace oru {

struct WinHidLibraries {
    /// Both libraries with every required entry point, or null; nothing stays
    /// loaded when one is missing. They come from the system folder only
    /// (a hid.dll planted beside the program or in the current folder is
    /// never loaded), or from the given folder (ending in a separator).
    static std::shared_ptr<const WinHidLibraries> load(const std::wstring& folder = {});
    ~WinHidLibraries();
    WinHidLibraries(const WinHidLibraries&) = delete;
    WinHidLibraries& operator=(const WinHidLibraries&) = delete;

    HMODULE setupLibrary = nullptr;
    HMODULE hidLibrary = nullptr;

    decltype(&::SetupDiGetClassDevsW) getClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces = nullptr;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) getDeviceInterfaceDetail = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;
    /// Optional (Windows Vista and later): null where the system lacks it.
    decltype(&::SetupDiGetDevicePropertyW) getDeviceProperty = nullptr;

    decltype(&::HidD_GetHidGuid) getHidGuid = nullptr;
    decltype(&::HidD_GetAttributes) getAttributes = nullptr;
    decltype(&::HidD_GetPreparsedData) getPreparsedData = nullptr;
    decltype(&::HidD_FreePreparsedData) freePreparsedData = nullptr;
    decltype(&::HidP_GetCaps) getCaps = nullptr;

    /// The input report length of an open handle (any access) as the
    /// capabilities give it, report-ID byte counted; 0 when the device has no
    /// input report. false with GetLastError's code in errorCode when the
    /// capabilities can't be had; malformed is set when hid.dll rejected
    /// them (HidP_GetCaps failed).
    bool inputReportLength(HANDLE device, std::uint16_t& length, unsigned long& errorCode, bool& malformed) const;

private:
    WinHidLibraries() = default;
};

/// Closes a handle from CreateFile when it goes.
class WinHandle {
public:
    WinHandle() = default;
    explicit WinHandle(HANDLE handle) : handle_(handle) {}
    ~WinHandle() { reset(); }
    WinHandle(WinHandle&& other) noexcept : handle_(other.release()) {}
    WinHandle& operator=(WinHandle&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    WinHandle(const WinHandle&) = delete;
    WinHandle& operator=(const WinHandle&) = delete;

    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    HANDLE release()
    {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (*this) ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

/// Opens an interface path with the given access (0: query only, which any
/// user may do), shared for reading and writing as the HID class driver
/// expects. flags: FILE_FLAG_OVERLAPPED or 0.
WinHandle openHidInterface(const std::wstring& path, DWORD access, DWORD flags = 0);

} // namespace oru
