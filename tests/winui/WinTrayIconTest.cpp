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

// The square at the shell's size: each pixel of the 16 x 16 one repeated.
TEST(WinTrayIcon, IsPaintedAtTheShellsSizeEachPixelRepeated)
{
    auto pixels = [](int size) {
        HICON icon = WinTrayIcon::paintIcon({"oru", clBlue, clWhite}, size);
        ICONINFO info{};
        GetIconInfo(icon, &info);
        BITMAPINFO format{{sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        std::vector<std::uint32_t> out(static_cast<std::size_t>(size * size));
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(GetDIBits(screen, info.hbmColor, 0, size, out.data(), &format, DIB_RGB_COLORS), size);
        ReleaseDC(nullptr, screen);
        DeleteObject(info.hbmColor), DeleteObject(info.hbmMask), DestroyIcon(icon);
        return out;
    };
    const std::vector<std::uint32_t> square = pixels(16);
    for (int size : {20, 24, 32}) {
        const std::vector<std::uint32_t> shown = pixels(size);
        for (int i = 0; i < size * size; ++i) {
            ASSERT_EQ(shown[i], square[(i / size * 16 / size) * 16 + i % size * 16 / size]) << size << " px, " << i;
        }
    }
}

} // namespace
} // namespace oru
