#include "device/HidReportDescriptor.h"

#include "fakes/EmulatedPenTracker.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace oru::test {
namespace {

struct DescriptorRow {
    const char* name;
    std::string hex;
    std::optional<HidReportLayout> expected;  // nothing: refused as malformed
};

void PrintTo(const DescriptorRow& row, std::ostream* out) { *out << row.name; }

std::string withoutSpaces(std::string hex)
{
    std::erase(hex, ' ');
    return hex;
}

class ReportDescriptorTest : public ::testing::TestWithParam<DescriptorRow> {};

TEST_P(ReportDescriptorTest, GivesTheLargestInputReportPlusTheIdByte)
{
    const auto bytes = emulated::bytesFromHex(withoutSpaces(GetParam().hex));
    EXPECT_EQ(parseReportDescriptor(bytes), GetParam().expected);
}

// The pen tracker's own descriptor, as the emulated device carries it.
const std::string kPenTracker(emulated::kReportDescriptorHex);

// Boot keyboard: modifiers (8 x 1 bit), a reserved byte, LED output, 6 key bytes.
const std::string kKeyboard =
    "05010906A101050719E029E71500250175019508810295017508810195057501050819012905910295017503910195067508150025650507"
    "190029658100C0";
// Boot mouse: 3 buttons, 5 bits of padding, X and Y.
const std::string kMouse =
    "05010902A1010901A100050919012903150025019503750181029501750581010501093009311581257F750895028106C0C0";
// Keyboard (ID 1, 8 bytes) and consumer control (ID 2, one 16-bit usage).
const std::string kKeyboardWithConsumer =
    "05010906A101850105071 9E029E71500250175019508810295017508810195067508150025651900296581 00C0"
    "050C0901A1018502150026FF031900 2AFF0375109501 8100C0";
// Vendor device: ID 1 two bytes, ID 2 twenty bytes, ID 3 a 64-byte output only.
const std::string kVendorNumbered = "0600FF0901A10185017508950209018102850275089514090281028503954009039102C0";

INSTANTIATE_TEST_SUITE_P(
    RealDescriptors, ReportDescriptorTest,
    ::testing::Values(
        DescriptorRow{"PenTracker", kPenTracker, HidReportLayout{6, false}},
        DescriptorRow{"BootKeyboard", kKeyboard, HidReportLayout{9, false}},
        DescriptorRow{"BootMouse", kMouse, HidReportLayout{4, false}},
        DescriptorRow{"KeyboardWithConsumerIds", kKeyboardWithConsumer, HidReportLayout{9, true}},
        DescriptorRow{"LargestNumberedReportWins", kVendorNumbered, HidReportLayout{21, true}},
        DescriptorRow{"BitsRoundUpToABytes", "0600FF0901A101750195038102C0", HidReportLayout{2, false}},
        DescriptorRow{"PopRestoresSizeAndCount", "0600FF0901A101750895 04A4751095088102B48102C0",
                      HidReportLayout{21, false}},
        DescriptorRow{"LongItemIsSkipped", "FE0210AABB" + kPenTracker, HidReportLayout{6, false}},
        DescriptorRow{"OutputOnly", "0600FF0901A1017508954009019102C0", HidReportLayout{0, false}},
        DescriptorRow{"Empty", "", HidReportLayout{0, false}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Malformed, ReportDescriptorTest,
    ::testing::Values(
        DescriptorRow{"ItemDataCutOff", "0600", std::nullopt},
        DescriptorRow{"TruncatedBeforeEndCollection", kPenTracker.substr(0, kPenTracker.size() - 2), std::nullopt},
        DescriptorRow{"TruncatedInsideAnItem", kPenTracker.substr(0, 7 * 2 + 1 * 2), std::nullopt},
        DescriptorRow{"EndCollectionWithoutCollection", "C0", std::nullopt},
        DescriptorRow{"ReportIdZero", "0600FF0901A1018500750895058102C0", std::nullopt},
        DescriptorRow{"ReportIdAbove255", "0600FF0901A10186000175089505 8102C0", std::nullopt},
        DescriptorRow{"PopWithoutPush", "B4", std::nullopt},
        DescriptorRow{"FivePushes", "A4A4A4A4A4", std::nullopt},
        DescriptorRow{"LongItemCutOff", "FE0500AABB", std::nullopt},
        DescriptorRow{"ReportSizeAbove256Bits", "0600FF0901A101762C0195018102C0", std::nullopt},
        DescriptorRow{"ReportCountAbove12288", "0600FF0901A1017508 97204E00008102C0", std::nullopt},
        DescriptorRow{"ReportLongerThanHidrawReads", "0600FF0901A10176000196003081 02C0", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace oru::test
