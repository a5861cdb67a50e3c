#pragma once

// What the stand-in's two halves agree on: the emulated HID devices' names
// and the control pipe through which the DLLs ask oru-pen-standin.exe for the
// devices plugged in now (protocol: oru_pen_standin_main.cpp).

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace oru::standin {

/// Names the stand-in world: its control pipe and its devices' pipes.
/// Inherited by every program a test starts, so parallel tests don't meet.
inline constexpr wchar_t kNameVariable[] = L"ORU_HID_STANDIN";
inline constexpr wchar_t kDefaultName[] = L"oru-hid-standin";

/// The request the setup stand-in sends; the reply has one line per device:
/// "<devinst> <arrival FILETIME as a decimal> <interface path>".
inline constexpr char kListRequest[] = "list";

/// The HID interface class GUID, as HidD_GetHidGuid gives it.
inline constexpr GUID kHidClassGuid = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

inline std::wstring worldName()
{
    wchar_t name[128];
    const DWORD length = ::GetEnvironmentVariableW(kNameVariable, name, 128);
    return length > 0 && length < 128 ? std::wstring(name, length) : std::wstring(kDefaultName);
}

inline std::wstring controlPipePath() { return L"\\\\.\\pipe\\" + worldName(); }

struct DeviceIds {
    unsigned vendorId = 0;
    unsigned productId = 0;
    unsigned version = 0;
    unsigned inputReportLength = 0;  // report-ID byte counted
    unsigned slot = 0;               // the "USB port": same slot, same path
};

/// A device's interface path: a named pipe that oru-pen-standin.exe serves,
/// shaped like a HID interface path and carrying the device's IDs, so that
/// hid.dll's stand-in can answer from an open handle alone.
inline std::wstring devicePath(const DeviceIds& ids)
{
    wchar_t tail[160];
    std::swprintf(tail, 160, L"#vid_%04x&pid_%04x&rev_%04x&in_%u#slot_%u#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  ids.vendorId, ids.productId, ids.version, ids.inputReportLength, ids.slot);
    return L"\\\\.\\pipe\\" + worldName() + tail;
}

/// The IDs of a device path, or of a handle's pipe name ("\<world>#vid_..."
/// as GetFileInformationByHandleEx gives it).
inline bool parseDeviceName(const std::wstring& name, DeviceIds& ids)
{
    const std::size_t hash = name.find(L'#');
    if (hash == std::wstring::npos) return false;
    return std::swscanf(name.c_str() + hash, L"#vid_%x&pid_%x&rev_%x&in_%u#slot_%u", &ids.vendorId, &ids.productId,
                        &ids.version, &ids.inputReportLength, &ids.slot) == 5;
}

} // namespace oru::standin
