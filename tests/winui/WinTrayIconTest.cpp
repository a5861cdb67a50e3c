// The tray icon's conversation with the shell, against a stand-in that
// answers as Explorer does at a slow log-on or after a restart.

#include "winui/WinTrayIcon.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace oru {
namespace {

std::vector<std::string> asked;
std::deque<BOOL> answers;  // FALSE: refused; none left: taken

BOOL WINAPI standInShell(DWORD message, PNOTIFYICONDATAW)
{
    static const char* const names[] = {"add", "modify", "delete", "focus", "version"};
    asked.push_back(message < 5 ? names[message] : "?");
    const BOOL answer = answers.empty() ? TRUE : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
}

TEST(WinTrayIcon, IsAddedAgainUntilTheShellConfirmsIt)
{
    struct Row {
        const char* what;
        std::deque<BOOL> answers;
        std::vector<std::string> asked;
        bool shown;
    };
    const Row rows[] = {
        {"taken at once", {}, {"add", "version"}, true},
        {"the add timed out, but the icon came", {FALSE}, {"add", "modify", "version"}, true},
        {"no shell yet", {FALSE, FALSE}, {"add", "modify"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        asked.clear();
        answers = row.answers;
        WinTrayIcon icon(nullptr, WM_USER, 1, &standInShell);
        icon.paint({"oru", clRed, clWhite});
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(icon.shown(), row.shown);
        // A repaint: a modify, or the add asked again until one is taken;
        // a modify the shell refuses (the icon was lost) adds it again.
        asked.clear();
        answers = {row.shown ? FALSE : TRUE};
        icon.paint({"oru", clGreen, clWhite});
        const std::vector<std::string> again = row.shown ? std::vector<std::string>{"modify", "add", "version"}
                                                         : std::vector<std::string>{"add", "version"};
        EXPECT_EQ(asked, again);
        EXPECT_TRUE(icon.shown());
    }
}

// The icon's colour pixels, top row first; its width in size.
std::vector<std::uint32_t> iconPixels(HICON icon, int& size)
{
    ICONINFO info{};
    GetIconInfo(icon, &info);
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    size = bitmap.bmWidth;
    BITMAPINFO format{};
    format.bmiHeader = {sizeof format.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size * size));
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, info.hbmColor, 0, size, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return pixels;
}

TEST(WinTrayIcon, IsPaintedAtTheShellsSizeEachPixelRepeated)
{
    int base = 0;
    HICON square = WinTrayIcon::paintIcon({"oru", clBlue, clWhite});
    const std::vector<std::uint32_t> original = iconPixels(square, base);
    DestroyIcon(square);
    ASSERT_EQ(base, 16);
    for (int wanted : {20, 24, 32}) {
        SCOPED_TRACE(wanted);
        int size = 0;
        HICON icon = WinTrayIcon::paintIcon({"oru", clBlue, clWhite}, wanted);
        const std::vector<std::uint32_t> pixels = iconPixels(icon, size);
        DestroyIcon(icon);
        ASSERT_EQ(size, wanted);
        for (int i = 0; i < size * size; ++i) {
            ASSERT_EQ(pixels[i], original[(i / size * 16 / size) * 16 + i % size * 16 / size]) << i;
        }
    }
}

} // namespace
} // namespace oru
