#include "platform/windows/WinHidLibraries.h"

namespace oru {

namespace {

template <typename Function>
bool lookUp(HMODULE library, const char* name, Function& function)
{
    // GetProcAddress returns a generic function pointer; the library's own
    // declaration (the SDK header) gives each its real type.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
    return function != nullptr;
}

HMODULE loadLibrary(const std::wstring& folder, const wchar_t* name)
{
    if (folder.empty()) return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return ::LoadLibraryExW((folder + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

std::shared_ptr<const WinHidLibraries> WinHidLibraries::load(const std::wstring& folder)
{
    std::shared_ptr<WinHidLibraries> libraries(new WinHidLibraries);
    libraries->setupLibrary = loadLibrary(folder, L"SetupApi.dll");
    if (!libraries->setupLibrary) return nullptr;
    const HMODULE setup = libraries->setupLibrary;
    if (!lookUp(setup, "SetupDiGetClassDevsW", libraries->getClassDevs) ||
        !lookUp(setup, "SetupDiEnumDeviceInterfaces", libraries->enumDeviceInterfaces) ||
        !lookUp(setup, "SetupDiGetDeviceInterfaceDetailW", libraries->getDeviceInterfaceDetail) ||
        !lookUp(setup, "SetupDiDestroyDeviceInfoList", libraries->destroyDeviceInfoList)) {
        return nullptr;
    }
    lookUp(setup, "SetupDiGetDevicePropertyW", libraries->getDeviceProperty);

    libraries->hidLibrary = loadLibrary(folder, L"HID.dll");
    if (!libraries->hidLibrary) return nullptr;
    const HMODULE hid = libraries->hidLibrary;
    if (!lookUp(hid, "HidD_GetHidGuid", libraries->getHidGuid) ||
        !lookUp(hid, "HidD_GetAttributes", libraries->getAttributes) ||
        !lookUp(hid, "HidD_GetPreparsedData", libraries->getPreparsedData) ||
        !lookUp(hid, "HidD_FreePreparsedData", libraries->freePreparsedData) ||
        !lookUp(hid, "HidP_GetCaps", libraries->getCaps)) {
        return nullptr;
    }
    return libraries;
}

WinHidLibraries::~WinHidLibraries()
{
    if (hidLibrary) ::FreeLibrary(hidLibrary);
    if (setupLibrary) ::FreeLibrary(setupLibrary);
}

bool WinHidLibraries::inputReportLength(HANDLE device, std::uint16_t& length, unsigned long& errorCode,
                                        bool& malformed) const
{
    length = 0;
    errorCode = 0;
    malformed = false;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!getPreparsedData(device, &preparsed)) {
        errorCode = ::GetLastError();
        return false;
    }
    HIDP_CAPS caps{};
    const NTSTATUS status = getCaps(preparsed, &caps);
    freePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) {
        malformed = true;
        return false;
    }
    // Counts the report-ID byte, also for a device without numbered reports,
    // whose reads start with a 0 byte: the length the core works with.
    length = caps.InputReportByteLength;
    return true;
}

WinHandle openHidInterface(const std::wstring& path, DWORD access, DWORD flags)
{
    return WinHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   flags, nullptr));
}

} // namespace oru
