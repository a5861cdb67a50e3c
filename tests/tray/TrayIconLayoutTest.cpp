// Where the tray icon's text, fill and border go, with a measurer of fixed
// widths: no font, no toolkit.

#include "tray/TrayIconLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace oru {
namespace {

// Every byte 5 px wide, lines 8 px high; palette colours resolve to grey.
const TrayTextMeasurer kMeasure{[](const std::string& line) { return static_cast<int>(line.size()) * 5; }, 8,
                                [](TColor c) { return isSystemColor(c) ? 0x808080u : static_cast<std::uint32_t>(c); }};

std::string origins(const TrayIconLayout& layout)
{
    std::string text;
    for (const auto& line : layout.lines) text += "'" + line.text + "'@" + std::to_string(line.x) + "," +
                                                  std::to_string(line.y) + " ";
    return text;
}

TEST(TrayIconLayout, FillTransparencyAndLineOriginsFollowTheLook)
{
    struct Row {
        const char* name;
        TrayIconLook look;
        std::uint32_t fill;
        bool transparent;
        std::string lines;
    };
    const Row rows[] = {
        {"one line centred over 15 px", {"1", clGreen, clWhite}, 0x008000, false, "'1'@5,3 "},
        {"square of no colour: inverted font, transparent", {"1", clNone, clWhite}, 0x000000, true, "'1'@5,3 "},
        {"square of the font's colour: inverted font, opaque", {"1", clRed, clRed}, 0xFFFF00, false, "'1'@5,3 "},
        {"palette font colour resolved first", {"", clNone, clBtnText}, 0x7F7F7F, true, "''@7,3 "},
        {"wider than the span: truncated toward zero, clipped both sides", {"abcd", clBlue, clWhite}, 0xFF0000,
         false, "'abcd'@-2,3 "},
        {"offsets move every line", {"1", clBlue, clWhite, false, clBlack, 2, -1}, 0xFF0000, false, "'1'@7,2 "},
        {"carriage returns split, empty lines kept, line distance added",
         {"a\r\rbc", clBlue, clWhite, false, clBlack, 0, 0, 1}, 0xFF0000, false, "'a'@5,-6 ''@7,3 'bc'@2,12 "},
        {"a line feed after the return stays on the next line; (15 - 16) / 2 is 0", {"a\r\nb", clBlue, clWhite},
         0xFF0000, false, "'a'@5,0 '\nb'@2,8 "},
    };
    for (const Row& row : rows) {
        const TrayIconLayout layout = layoutTrayIcon(row.look, kMeasure);
        EXPECT_EQ(layout.fillRgb, row.fill) << row.name;
        EXPECT_EQ(layout.transparentRgb.has_value(), row.transparent) << row.name;
        if (row.transparent) {
            EXPECT_EQ(*layout.transparentRgb, row.fill) << row.name;
        }
        EXPECT_EQ(origins(layout), row.lines) << row.name;
        EXPECT_TRUE(layout.border.empty()) << row.name;
    }
}

TEST(TrayIconLayout, BorderIsAOnePixelFrameUnlessItsColourIsNone)
{
    TrayIconLook look{"1", clBlue, clWhite, true, clRed};
    const TrayIconLayout framed = layoutTrayIcon(look, kMeasure);
    EXPECT_EQ(framed.borderRgb, 0x0000FFu);
    EXPECT_EQ(framed.border, (std::vector<TrayRect>{{0, 0, 16, 1}, {0, 15, 16, 1}, {0, 0, 1, 16}, {15, 0, 1, 16}}));
    look.borderColor = clNone;
    EXPECT_TRUE(layoutTrayIcon(look, kMeasure).border.empty());
}

} // namespace
} // namespace oru
