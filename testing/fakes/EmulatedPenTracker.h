#pragma once

// The emulated pen tracker, described once: its USB IDs, name, report
// descriptors, report layout, and the umockdev description of its hidraw
// node. Unit tests, umockdev tests, the demo, the benchmarks and the kernel
// tests (a real HID device through /dev/uhid, tests/kernel/UhidTracker.h) all
// use this.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace oru::emulated {

inline constexpr std::uint16_t kVendorId = 0x0020;
inline constexpr std::uint16_t kProductId = 0x0002;
inline constexpr std::uint16_t kVersion = 0x0100;  // bcdDevice 1.00
/// The HID device's name (HID_NAME in the kernel's uevent).
inline constexpr std::string_view kProductName = "Pen Tracker";

/// Vendor-defined page 0xFF00, one application collection with one 5-byte
/// input report (8-bit fields, logical 0..255) and no report ID.
inline constexpr std::string_view kReportDescriptorHex = "0600FF0901A101150026FF007508950509018102C0";

/// A variant of the same report that carries report ID 1, as a firmware
/// with more than one report would send it: hidraw then hands over the ID
/// byte with the data, and the input report length is the same 6 bytes.
inline constexpr std::string_view kNumberedReportDescriptorHex = "0600FF0901A1018501150026FF007508950509018102C0";
inline constexpr std::uint8_t kNumberedReportId = 1;

/// Data bytes of one report; read with the leading report-ID byte (0).
inline constexpr std::size_t kReportDataBytes = 5;
inline constexpr std::uint16_t kInputReportLength = kReportDataBytes + 1;

/// Report layout (data bytes, report ID left out): pen state in the top two
/// bits of byte 0; distance A = (byte0 & 0x3F) * 255 + byte2, distance B =
/// (byte1 & 0x3F) * 255 + byte3; byte 4 unused.
inline constexpr int kStateAndHighAByte = 0;
inline constexpr int kHighBByte = 1;
inline constexpr int kLowAByte = 2;
inline constexpr int kLowBByte = 3;
inline constexpr int kPenStateShift = 6;
inline constexpr int kHighPartWeight = 255;

using Report = std::array<std::uint8_t, kReportDataBytes>;

/// A report with this pen state (0 up, 1 left, 2 right, 3) and distances in
/// report units, 0..16320 each: high * 255 + low with a 6-bit high part, so
/// the largest distance is 63 * 255 + 255.
constexpr Report makeReport(int penState, int distanceA, int distanceB, std::uint8_t spare = 0)
{
    const int highA = distanceA / kHighPartWeight < 63 ? distanceA / kHighPartWeight : 63;
    const int highB = distanceB / kHighPartWeight < 63 ? distanceB / kHighPartWeight : 63;
    Report report{};
    report[kStateAndHighAByte] = static_cast<std::uint8_t>((penState << kPenStateShift) | highA);
    report[kHighBByte] = static_cast<std::uint8_t>(highB);
    report[kLowAByte] = static_cast<std::uint8_t>(distanceA - highA * kHighPartWeight);
    report[kLowBByte] = static_cast<std::uint8_t>(distanceB - highB * kHighPartWeight);
    report[4] = spare;
    return report;
}

/// The distances of a pen at board point (x, y) in report units (y <= 0:
/// below the receivers' line, receiver A at (0, 0), receiver B at
/// (receiverBaseline, 0)) from the two receivers, rounded to whole units.
struct Distances {
    int a;
    int b;
};
inline Distances distancesAt(double x, double y, double receiverBaseline = 634.065)
{
    return {static_cast<int>(std::lround(std::hypot(x, y))),
            static_cast<int>(std::lround(std::hypot(x - receiverBaseline, y)))};
}

/// The report of a pen at board point (x, y), as distancesAt measures it.
inline Report reportAt(int penState, double x, double y, double receiverBaseline = 634.065)
{
    const Distances d = distancesAt(x, y, receiverBaseline);
    return makeReport(penState, d.a, d.b);
}

inline std::vector<std::uint8_t> bytesFromHex(std::string_view hex)
{
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    }
    return bytes;
}

inline std::vector<std::uint8_t> reportDescriptor() { return bytesFromHex(kReportDescriptorHex); }
inline std::vector<std::uint8_t> numberedReportDescriptor() { return bytesFromHex(kNumberedReportDescriptorHex); }

/// sysfs path of the tracker's hid device for USB port `port` and running
/// number `instance` (the kernel gives every plug a new number).
inline std::string hidSysfsPath(int port = 1, int instance = 1)
{
    char name[32];
    std::snprintf(name, sizeof name, "0003:0020:0002.%04X", instance);
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port) + "/1-" + std::to_string(port) +
           ":1.0/" + name;
}

inline std::string identity(int instance = 1)
{
    char name[32];
    std::snprintf(name, sizeof name, "0003:0020:0002.%04X", instance);
    return name;
}

/// sysfs path of the USB device in umockdevDescription.
inline std::string usbSysfsPath(int port = 1)
{
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
}

/// umockdev description of the tracker as hidraw<node>: the hidraw child (its
/// N: line makes the device node exist), its hid parent with HID_ID and the
/// report descriptor, and the USB device with its IDs and bcdDevice.
inline std::string umockdevDescription(int node = 0, int port = 1, int instance = 1)
{
    const std::string hid = hidSysfsPath(port, instance);
    const std::string usb = usbSysfsPath(port);
    const std::string hidraw = "hidraw" + std::to_string(node);
    return "P: " + hid.substr(4) + "/hidraw/" + hidraw + "\n"
           "N: " + hidraw + "\n"
           "E: DEVNAME=/dev/" + hidraw + "\n"
           "E: SUBSYSTEM=hidraw\n"
           "A: dev=240:" + std::to_string(node) + "\n"
           "\n"
           "P: " + hid.substr(4) + "\n"
           "E: SUBSYSTEM=hid\n"
           "E: HID_ID=0003:00000020:00000002\n"
           "E: HID_NAME=" + std::string(kProductName) + "\n"
           "H: report_descriptor=" + std::string(kReportDescriptorHex) + "\n"
           "\n"
           "P: " + usb.substr(4) + "\n"
           "E: SUBSYSTEM=usb\n"
           "E: DEVTYPE=usb_device\n"
           "A: idVendor=0020\n"
           "A: idProduct=0002\n"
           "A: bcdDevice=0100\n";
}

/// sysfs path of the hidraw child in umockdevDescription (for uevents and removal).
inline std::string hidrawSysfsPath(int node = 0, int port = 1, int instance = 1)
{
    return hidSysfsPath(port, instance) + "/hidraw/hidraw" + std::to_string(node);
}

} // namespace oru::emulated
