// Stand-in for Windows' hid.dll (built with ORU_STANDIN_HID) and setupapi.dll
// (ORU_STANDIN_SETUPAPI): the entry points the driver's HID backend loads,
// answering for the emulated devices that oru-pen-standin.exe serves. Their
// interface paths are named pipes, so CreateFile, ReadFile and CancelIoEx,
// which no DLL can replace, work on them for real. The exported names come
// from hid.def and setupapi.def.
//
// The programs load both from the system folder only, where the wine_prefix
// fixture puts them; wine prefers them over its own only when told:
// WINEDLLOVERRIDES="hid,setupapi=n,b" (its setupapi is otherwise always its
// builtin one).

#include "StandinProtocol.h"

#include <windows.h>
#include <setupapi.h>
#include <hidsdi.h>
#include <hidpi.h>
#include <devpropdef.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace oru::standin;

namespace {

#ifdef ORU_STANDIN_HID

constexpr DWORD kPreparsedMagic = 0x4f525548;  // "HURO"

struct Preparsed {
    DWORD magic = kPreparsedMagic;
    DeviceIds ids;
};

// The emulated device behind a handle of one of the stand-in's pipes.
bool idsOfHandle(HANDLE device, DeviceIds& ids)
{
    alignas(FILE_NAME_INFO) char storage[sizeof(FILE_NAME_INFO) + 512 * sizeof(wchar_t)] = {};
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(storage);
    if (!::GetFileInformationByHandleEx(device, FileNameInfo, info, sizeof storage)) return false;
    return parseDeviceName(std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)), ids);
}

#endif

#ifdef ORU_STANDIN_SETUPAPI

// DEVPKEY_Device_LastArrivalDate
constexpr DEVPROPKEY kLastArrivalDate = {
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 102};

struct Device {
    DWORD devInst = 0;
    ULONGLONG arrival = 0;
    std::wstring path;
};

constexpr DWORD kSetMagic = 0x5345545f;  // "_TES"

struct DeviceSet {
    DWORD magic = kSetMagic;
    std::vector<Device> devices;
};

DeviceSet* setOf(HDEVINFO handle)
{
    auto* set = static_cast<DeviceSet*>(handle);
    return set && handle != INVALID_HANDLE_VALUE && set->magic == kSetMagic ? set : nullptr;
}

// The devices plugged in now, from oru-pen-standin.exe; none when it isn't running.
std::vector<Device> pluggedDevices()
{
    std::vector<Device> devices;
    static char reply[64 * 1024];
    DWORD replied = 0;
    if (!::CallNamedPipeW(controlPipePath().c_str(), const_cast<char*>(kListRequest), sizeof kListRequest - 1, reply,
                          sizeof reply - 1, &replied, 2000)) {
        return devices;
    }
    std::istringstream lines(std::string(reply, replied));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Device device;
        std::string path;
        if (!(fields >> device.devInst >> device.arrival >> path)) continue;
        device.path.assign(path.begin(), path.end());  // ASCII
        devices.push_back(std::move(device));
    }
    return devices;
}

#endif

} // namespace

extern "C" {

#ifdef ORU_STANDIN_HID

void __stdcall StandinGetHidGuid(GUID* guid) { *guid = kHidClassGuid; }

BOOLEAN __stdcall StandinGetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes)
{
    DeviceIds ids;
    if (!attributes || !idsOfHandle(device, ids)) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    attributes->Size = sizeof *attributes;
    attributes->VendorID = static_cast<USHORT>(ids.vendorId);
    attributes->ProductID = static_cast<USHORT>(ids.productId);
    attributes->VersionNumber = static_cast<USHORT>(ids.version);
    return TRUE;
}

BOOLEAN __stdcall StandinGetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsed)
{
    DeviceIds ids;
    if (!preparsed || !idsOfHandle(device, ids)) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    auto* data = static_cast<Preparsed*>(std::malloc(sizeof(Preparsed)));
    if (!data) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    *data = Preparsed{kPreparsedMagic, ids};
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
    return TRUE;
}

BOOLEAN __stdcall StandinFreePreparsedData(PHIDP_PREPARSED_DATA preparsed)
{
    auto* data = reinterpret_cast<Preparsed*>(preparsed);
    if (!data || data->magic != kPreparsedMagic) return FALSE;
    data->magic = 0;
    std::free(data);
    return TRUE;
}

NTSTATUS __stdcall StandinGetCaps(PHIDP_PREPARSED_DATA preparsed, HIDP_CAPS* caps)
{
    const auto* data = reinterpret_cast<const Preparsed*>(preparsed);
    if (!data || data->magic != kPreparsedMagic || !caps) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *caps = {};
    caps->UsagePage = 0xFF00;  // vendor-defined, as the pen tracker declares
    caps->Usage = 1;
    caps->InputReportByteLength = static_cast<USHORT>(data->ids.inputReportLength);
    return HIDP_STATUS_SUCCESS;
}

#endif

#ifdef ORU_STANDIN_SETUPAPI

HDEVINFO __stdcall StandinGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD flags)
{
    if (!classGuid || !::IsEqualGUID(*classGuid, kHidClassGuid) || !(flags & DIGCF_DEVICEINTERFACE)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new DeviceSet;
    set->devices = pluggedDevices();
    return set;
}

BOOL __stdcall StandinEnumDeviceInterfaces(HDEVINFO handle, SP_DEVINFO_DATA*, const GUID* classGuid, DWORD index,
                                           SP_DEVICE_INTERFACE_DATA* interface)
{
    DeviceSet* set = setOf(handle);
    if (!set || !classGuid || !interface) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (interface->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= set->devices.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    interface->InterfaceClassGuid = kHidClassGuid;
    interface->Flags = SPINT_ACTIVE;
    interface->Reserved = index + 1;
    return TRUE;
}

BOOL __stdcall StandinGetDeviceInterfaceDetailW(HDEVINFO handle, SP_DEVICE_INTERFACE_DATA* interface,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                                DWORD* requiredSize, SP_DEVINFO_DATA* deviceData)
{
    DeviceSet* set = setOf(handle);
    if (!set || !interface || interface->Reserved == 0 || interface->Reserved > set->devices.size()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Device& device = set->devices[interface->Reserved - 1];
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (device.path.size() + 1) * sizeof(wchar_t));
    if (requiredSize) *requiredSize = needed;
    if (deviceData) {
        if (deviceData->cbSize != sizeof(SP_DEVINFO_DATA)) {
            ::SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        deviceData->ClassGuid = kHidClassGuid;
        deviceData->DevInst = device.devInst;
        deviceData->Reserved = interface->Reserved;
    }
    if (!detail || detailSize < needed) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, device.path.c_str(), (device.path.size() + 1) * sizeof(wchar_t));
    return TRUE;
}

BOOL __stdcall StandinGetDevicePropertyW(HDEVINFO handle, SP_DEVINFO_DATA* deviceData, const DEVPROPKEY* key,
                                         DEVPROPTYPE* type, BYTE* buffer, DWORD bufferSize, DWORD* requiredSize,
                                         DWORD)
{
    DeviceSet* set = setOf(handle);
    if (!set || !deviceData || deviceData->Reserved == 0 || deviceData->Reserved > set->devices.size() || !key ||
        !type) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!::IsEqualGUID(key->fmtid, kLastArrivalDate.fmtid) ||
        key->pid != kLastArrivalDate.pid) {
        ::SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    *type = DEVPROP_TYPE_FILETIME;
    if (requiredSize) *requiredSize = sizeof(FILETIME);
    if (!buffer || bufferSize < sizeof(FILETIME)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const ULONGLONG arrival = set->devices[deviceData->Reserved - 1].arrival;
    const FILETIME time{static_cast<DWORD>(arrival), static_cast<DWORD>(arrival >> 32)};
    std::memcpy(buffer, &time, sizeof time);
    return TRUE;
}

BOOL __stdcall StandinDestroyDeviceInfoList(HDEVINFO handle)
{
    DeviceSet* set = setOf(handle);
    if (!set) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    set->magic = 0;
    delete set;
    return TRUE;
}

#endif

} // extern "C"
