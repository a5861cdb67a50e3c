#include "device/HidReportDescriptor.h"

#include <algorithm>
#include <array>

namespace oru {

namespace {

// Item prefix: bits 0-1 size code, bits 2-3 type, bits 4-7 tag.
constexpr std::uint8_t kSizeMask = 0x03;
constexpr int kTypeShift = 2;
constexpr std::uint8_t kTypeMask = 0x03;
constexpr int kTagShift = 4;
constexpr std::uint8_t kLongItemPrefix = 0xFE;

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

// Main item tags.
constexpr std::uint8_t kInput = 0x8;
constexpr std::uint8_t kCollection = 0xA;
constexpr std::uint8_t kEndCollection = 0xC;
// Global item tags.
constexpr std::uint8_t kReportSize = 0x7;
constexpr std::uint8_t kReportId = 0x8;
constexpr std::uint8_t kReportCount = 0x9;
constexpr std::uint8_t kPush = 0xA;
constexpr std::uint8_t kPop = 0xB;

// Limits of the Linux HID core: larger values make it refuse the device.
constexpr std::uint32_t kMaxReportSizeBits = 256;
constexpr std::uint32_t kMaxReportCount = 12288;
constexpr std::size_t kGlobalStackDepth = 4;
// hidraw reads at most this many bytes of one report.
constexpr std::uint64_t kMaxReportBytes = 16384;

constexpr int kReportIds = 256;

struct GlobalState {
    std::uint32_t reportSizeBits = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

std::uint32_t itemValue(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t(data[i]) << (8 * i);
    return value;
}

} // namespace

std::optional<HidReportLayout> parseReportDescriptor(std::span<const std::uint8_t> descriptor)
{
    GlobalState global;
    std::array<GlobalState, kGlobalStackDepth> stack{};
    std::size_t stackDepth = 0;
    int collectionDepth = 0;
    bool numbered = false;
    std::array<std::uint64_t, kReportIds> inputBits{};  // indexed by report ID, 0 = unnumbered

    std::size_t pos = 0;
    while (pos < descriptor.size()) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == kLongItemPrefix) {
            // Long items carry vendor data only: bDataSize, bLongItemTag, data.
            if (pos + 3 > descriptor.size()) return std::nullopt;
            const std::size_t dataSize = descriptor[pos + 1];
            pos += 3 + dataSize;
            if (pos > descriptor.size()) return std::nullopt;
            continue;
        }
        const std::size_t sizeCode = prefix & kSizeMask;
        const std::size_t size = sizeCode == 3 ? 4 : sizeCode;
        const auto type = static_cast<ItemType>((prefix >> kTypeShift) & kTypeMask);
        const std::uint8_t tag = prefix >> kTagShift;
        if (pos + 1 + size > descriptor.size()) return std::nullopt;
        const std::uint32_t value = itemValue(&descriptor[pos + 1], size);
        pos += 1 + size;

        if (type == kMain) {
            if (tag == kInput) {
                std::uint64_t& bits = inputBits[global.reportId];
                bits += std::uint64_t(global.reportSizeBits) * global.reportCount;
                if (bits > kMaxReportBytes * 8) return std::nullopt;
            } else if (tag == kCollection) {
                ++collectionDepth;
            } else if (tag == kEndCollection) {
                if (--collectionDepth < 0) return std::nullopt;
            }
        } else if (type == kGlobal) {
            switch (tag) {
            case kReportSize:
                if (value > kMaxReportSizeBits) return std::nullopt;
                global.reportSizeBits = value;
                break;
            case kReportCount:
                if (value > kMaxReportCount) return std::nullopt;
                global.reportCount = value;
                break;
            case kReportId:
                if (value == 0 || value >= kReportIds) return std::nullopt;
                global.reportId = value;
                numbered = true;
                break;
            case kPush:
                if (stackDepth == kGlobalStackDepth) return std::nullopt;
                stack[stackDepth++] = global;
                break;
            case kPop:
                if (stackDepth == 0) return std::nullopt;
                global = stack[--stackDepth];
                break;
            default:
                break;  // usage page, logical/physical ranges, units: no bearing on lengths
            }
        }
        // Local items (usages, designators, strings) don't change report lengths.
    }
    if (collectionDepth != 0) return std::nullopt;

    std::uint64_t largestBits = 0;
    bool anyInput = false;
    for (int id = 0; id < kReportIds; ++id) {
        if (inputBits[id] > 0) anyInput = true;
        largestBits = std::max(largestBits, inputBits[id]);
    }
    HidReportLayout layout;
    layout.numberedReports = numbered;
    if (anyInput) layout.inputReportLength = static_cast<std::uint16_t>((largestBits + 7) / 8 + 1);
    return layout;
}

} // namespace oru
