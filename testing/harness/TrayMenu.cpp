#include "harness/TrayMenu.h"

#include <algorithm>
#include <map>

namespace oru::harness {

using namespace std::chrono_literals;

namespace {

PixelBlock part(const PixelBlock& block, const XScreen::WindowInfo& w)
{
    PixelBlock out{w.x, w.y, w.width, w.height, {}};
    out.rgb.reserve(static_cast<std::size_t>(w.width) * w.height);
    for (int ry = w.y; ry < w.y + w.height; ++ry)
        for (int rx = w.x; rx < w.x + w.width; ++rx) out.rgb.push_back(block.at(rx, ry));
    return out;
}

// Colours as 0xRRGGBB on the screen.
constexpr std::uint32_t kTrayRed = 0xFF0000;
constexpr std::uint32_t kTrayGreen = 0x008000;
constexpr std::uint32_t kTrayBlue = 0x0000FF;

// A tray square is 16 x 16 with the text "oru" in white over it.
constexpr int kTraySquareMinPixels = 100;
// GNOME's top bar draws its icons at 94 % opacity over black.
constexpr int kTrayColourTolerance = 20;

} // namespace

TrayLook lookAtTray(const XScreen& screen)
{
    const PixelBlock strip = screen.grab(0, 0, screen.width(), kTrayStripPx);
    const std::pair<TrayColour, std::uint32_t> colours[] = {
        {TrayColour::Red, kTrayRed}, {TrayColour::Green, kTrayGreen}, {TrayColour::Blue, kTrayBlue}};
    for (const auto& [colour, rgb] : colours) {
        const ColourSpot spot = XScreen::find(strip, rgb, kTrayColourTolerance);
        if (spot.count >= kTraySquareMinPixels && spot.maxX - spot.minX < 32 && spot.maxY - spot.minY < 32)
            return {colour, spot};
    }
    return {};
}

int MenuPicture::highlighted() const
{
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].plainShare < 0.5) return static_cast<int>(i);
    return -1;
}

bool MenuPicture::sameShape(const MenuPicture& other) const
{
    if (lines.size() != other.lines.size() || separators != other.separators) return false;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].top != other.lines[i].top || lines[i].bottom != other.lines[i].bottom) return false;
    return true;
}

MenuPicture readMenu(const PixelBlock& block)
{
    MenuPicture picture;
    // Inside the frame; wide enough for a submenu's arrow at the right end.
    const int left = block.x + 3, right = block.x + block.width - 3;
    const int top = block.y + 2, bottom = block.y + block.height - 2;
    if (right - left < 32 || bottom - top < 8) return picture;
    std::map<std::uint32_t, int> histogram;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) ++histogram[block.at(x, y)];
    const std::uint32_t plain =
        std::max_element(histogram.begin(), histogram.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    const int width = right - left;
    std::vector<int> marked(static_cast<std::size_t>(bottom - top));
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) marked[y - top] += block.at(x, y) != plain;
    const auto across = [&](int y) { return marked[y - top] >= width * 6 / 10; };
    for (int y = top; y < bottom;) {
        if (marked[y - top] == 0) {
            ++y;
            continue;
        }
        int last = y;
        if (across(y)) {
            // A separator, or a highlighted entry: the highlight fills its
            // rows, text and all.
            while (last + 1 < bottom && across(last + 1)) ++last;
            if (last - y < 2) ++picture.separators;
        } else {
            for (int next = y + 1; next < bottom && next <= last + 3 && !across(next); ++next)
                if (marked[next - top] > 0) last = next;
        }
        if (last - y + 1 >= 5) {
            MenuPicture::Line line{y, last, 0, left, 0};
            int unmarked = 0;
            for (int ry = y; ry <= last; ++ry) {
                unmarked += width - marked[ry - top];
                for (int x = left; x < right; ++x) {
                    if (block.at(x, ry) == plain) continue;
                    line.rightmostMark = std::max(line.rightmostMark, x);
                    if (x >= right - 24) ++line.marksAtRightEnd;
                }
            }
            line.plainShare = static_cast<double>(unmarked) / (width * (last - y + 1));
            picture.lines.push_back(line);
        }
        y = last + 1;
    }
    return picture;
}

bool TrayMenu::poll(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return pen_.idleUntil(done, timeout);
}

std::set<Window> TrayMenu::popupIds() const
{
    std::set<Window> ids;
    for (const auto& w : screen_.overrideRedirectWindows()) ids.insert(w.id);
    return ids;
}

bool TrayMenu::smallPopup(const XScreen::WindowInfo& w) const
{
    // Not the harness's own canvas, which also bypasses the window manager.
    return w.width < screen_.width() / 2 && w.height < screen_.height() / 2;
}

MenuPicture TrayMenu::look(const XScreen::WindowInfo& w) const
{
    return readMenu(screen_.grab(w.x, w.y, w.width, w.height));
}

bool TrayMenu::movePointerTo(int x, int y)
{
    pen_.leave();
    screen_.movePointer(x, y);
    return poll(
        [&] {
            const PointerState p = screen_.pointer();
            return p.x == x && p.y == y;
        },
        5s);
}

std::optional<TrayMenu::Popup> TrayMenu::open(const Shown& shown, std::string& detail)
{
    const TrayLook tray = lookAtTray(screen_);
    if (tray.colour == TrayColour::Absent) {
        detail = "no tray square to right-click";
        return std::nullopt;
    }
    const int x = (tray.spot.minX + tray.spot.maxX) / 2, y = (tray.spot.minY + tray.spot.maxY) / 2;
    if (!movePointerTo(x, y)) {
        detail = "the pointer did not get to the tray square";
        return std::nullopt;
    }
    // The menu opens on the press: a new popup window that holds the pressed
    // place (above or below it, wherever there is room: Qt's own), or one
    // just beside the panel under it (a panel that draws the menu itself).
    const std::set<Window> before = popupIds();
    const PixelBlock screenBefore = screen_.grab(0, 0, screen_.width(), screen_.height());
    const auto pressed = std::chrono::steady_clock::now();
    screen_.button(3, true);
    std::optional<XScreen::WindowInfo> menu, drawnBefore;
    poll(
        [&] {
            for (const auto& w : screen_.overrideRedirectWindows())
                if (!before.count(w.id) && smallPopup(w) && x >= w.x && x <= w.x + w.width &&
                    y >= w.y - kTrayStripPx && y <= w.y + w.height + kTrayStripPx)
                    menu = w;
            if (menu) return true;
            // No popup window after a second: a menu the shell draws, once
            // it stands still (it fades in).
            if (std::chrono::steady_clock::now() - pressed < 1s) return false;
            const auto drawn = drawnMenu(screenBefore);
            const bool still = drawn && drawnBefore && drawn->x == drawnBefore->x && drawn->y == drawnBefore->y &&
                               drawn->width == drawnBefore->width && drawn->height == drawnBefore->height;
            drawnBefore = drawn;
            if (still && x >= drawn->x && x <= drawn->x + drawn->width) menu = drawn;
            return menu.has_value();
        },
        10s);
    screen_.button(3, false);
    if (!menu) {
        detail = "no menu opened on a right press on the tray square";
        return std::nullopt;
    }
    // Off the menu, so that nothing is highlighted, until it shows.
    const int asideX = menu->x >= 24 ? menu->x - 16 : menu->x + menu->width + 16;
    if (!movePointerTo(asideX, menu->y + menu->height / 2)) {
        detail = "the pointer did not move off the menu";
        return std::nullopt;
    }
    auto popup = settle(*menu, shown, detail);
    // What was there before a drawn menu, to see it close.
    if (popup && menu->id == 0) popup->beneath = part(screenBefore, *menu);
    return popup;
}

std::optional<XScreen::WindowInfo> TrayMenu::drawnMenu(const PixelBlock& before) const
{
    const PixelBlock now = screen_.grab(0, 0, screen_.width(), screen_.height());
    // The colour most of the changed pixels have: the menu's.
    std::map<std::uint32_t, int> changed;
    for (int ry = kTrayStripPx; ry < now.height; ++ry)
        for (int rx = 0; rx < now.width; ++rx)
            if (now.at(rx, ry) != before.at(rx, ry)) ++changed[now.at(rx, ry)];
    if (changed.empty()) return std::nullopt;
    const auto colour = std::max_element(changed.begin(), changed.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; })->first;
    int minX = now.width, minY = now.height, maxX = -1, maxY = -1;
    for (int ry = kTrayStripPx; ry < now.height; ++ry)
        for (int rx = 0; rx < now.width; ++rx)
            if (now.at(rx, ry) == colour && before.at(rx, ry) != colour) {
                minX = std::min(minX, rx);
                maxX = std::max(maxX, rx);
                minY = std::min(minY, ry);
                maxY = std::max(maxY, ry);
            }
    // Inside the rounded corners, which would read as marks of a line.
    constexpr int kRoundedEdgePx = 10;
    const XScreen::WindowInfo body{0, minX + kRoundedEdgePx, minY + kRoundedEdgePx,
                                   maxX - minX + 1 - 2 * kRoundedEdgePx, maxY - minY + 1 - 2 * kRoundedEdgePx};
    if (body.width < 40 || body.height < 40 || !smallPopup(body)) return std::nullopt;
    return body;
}

std::optional<TrayMenu::Popup> TrayMenu::settle(const XScreen::WindowInfo& window, const Shown& shown,
                                                std::string& detail)
{
    MenuPicture before, now;
    const bool ok = poll(
        [&] {
            now = look(window);
            const bool done = shown(now, before);
            before = now;
            return done;
        },
        10s);
    if (!ok) {
        detail = "the menu at " + std::to_string(window.x) + "," + std::to_string(window.y) + " (" +
                 std::to_string(window.width) + "x" + std::to_string(window.height) + ") showed " +
                 std::to_string(now.lines.size()) + " entries and " + std::to_string(now.separators) +
                 " separators, not the menu waited for";
        return std::nullopt;
    }
    return Popup{window, now};
}

TrayMenu::Shown TrayMenu::settledWith(std::size_t minLines)
{
    return [minLines](const MenuPicture& now, const MenuPicture& before) {
        return now.lines.size() >= minLines && now.sameShape(before);
    };
}

bool TrayMenu::hover(const Popup& popup, int index)
{
    const auto& line = popup.picture.lines[index];
    if (!movePointerTo(popup.window.x + popup.window.width / 3, (line.top + line.bottom) / 2)) return false;
    return poll([&] { return look(popup.window).highlighted() == index; }, 10s);
}

std::optional<TrayMenu::Popup> TrayMenu::openSubmenu(const Popup& menu, int index, const Shown& shown,
                                                     std::string& detail)
{
    const std::set<Window> before = popupIds();
    if (!hover(menu, index)) {
        detail = "the submenu's entry was not highlighted under the pointer";
        return std::nullopt;
    }
    std::optional<XScreen::WindowInfo> sub;
    const auto findSub = [&] {
        for (const auto& w : screen_.overrideRedirectWindows())
            if (!before.count(w.id) && smallPopup(w)) sub = w;
        return sub.has_value();
    };
    // Qt opens a submenu after a short hover; a click opens it at once.
    if (!poll(findSub, 2s)) {
        screen_.button(1, true);
        screen_.button(1, false);
        poll(findSub, 10s);
    }
    if (!sub) {
        detail = "no submenu opened from entry " + std::to_string(index);
        return std::nullopt;
    }
    return settle(*sub, shown, detail);
}

bool TrayMenu::clickAndWaitClosed(const Popup& popup)
{
    screen_.button(1, true);
    screen_.button(1, false);
    return waitClosed(popup, 10s);
}

bool TrayMenu::waitClosed(const Popup& popup, std::chrono::milliseconds timeout)
{
    if (popup.window.id != 0) return poll([&] { return !popupIds().count(popup.window.id); }, timeout);
    // A drawn menu has closed when its place shows what it showed before
    // (but for a few pixels: a pointer's hover may have marked something).
    const XScreen::WindowInfo& w = popup.window;
    return poll(
        [&] {
            const PixelBlock now = screen_.grab(w.x, w.y, w.width, w.height);
            std::size_t differ = 0;
            for (std::size_t i = 0; i < now.rgb.size(); ++i) differ += now.rgb[i] != popup.beneath.rgb[i];
            return differ * 100 < now.rgb.size();
        },
        timeout);
}

} // namespace oru::harness
