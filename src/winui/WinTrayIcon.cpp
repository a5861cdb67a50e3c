#include "winui/WinTrayIcon.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WinGdi.h"

#include <cstdint>
#include <cwchar>
#include <vector>

namespace oru {

namespace {

constexpr UINT kIconId = 1;

// 0x00BBGGRR of any colour: direct colours are COLORREFs already, palette
// colours are the desktop's.
std::uint32_t toRgb(TColor color)
{
    if (isSystemColor(color)) return GetSysColor(color & 0xFF) & kRgbMask;
    return static_cast<std::uint32_t>(color) & kRgbMask;
}

// A DIB pixel (0xAARRGGBB) of a COLORREF.
std::uint32_t dibPixel(std::uint32_t rgb)
{
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// How often an icon the shell has not confirmed is added again.
constexpr UINT kRetryMs = 2000;

template <std::size_t N>
void copyText(wchar_t (&field)[N], const std::wstring& text)
{
    std::wcsncpy(field, text.c_str(), N - 1);
    field[N - 1] = L'\0';
}

} // namespace

WinTrayIcon::WinTrayIcon(HWND owner, UINT callbackMessage, UINT_PTR retryTimer, ShellNotify notify, int sizePx)
    : owner_(owner), callbackMessage_(callbackMessage), retryTimer_(retryTimer), notify_(notify),
      sizePx_(sizePx > 0 ? sizePx : GetSystemMetrics(SM_CXSMICON))
{
}

WinTrayIcon::~WinTrayIcon()
{
    remove();
    if (icon_) DestroyIcon(icon_);
}

HICON WinTrayIcon::paintIcon(const TrayIconLook& look, int sizePx)
{
    constexpr int n = kTrayIconSizePx;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);

    void* bits = nullptr;
    HBITMAP color = createTopDownBitmap(dc, n, n, &bits);
    HGDIOBJ oldBitmap = SelectObject(dc, color);
    // Pure font and fill pixels only: clNone's transparent colour is matched
    // exactly, which smoothed edges would spoil.
    HFONT font = CreateFontW(-9, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Small Fonts");
    HGDIOBJ oldFont = SelectObject(dc, font);

    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const TrayTextMeasurer measure{[dc](const std::string& line) {
                                       const std::wstring wide = widen(line);
                                       SIZE size{};
                                       GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
                                       return static_cast<int>(size.cx);
                                   },
                                   static_cast<int>(metrics.tmHeight), &toRgb};
    const TrayIconLayout layout = layoutTrayIcon(look, measure);

    const RECT square{0, 0, n, n};
    HBRUSH fill = CreateSolidBrush(layout.fillRgb);
    FillRect(dc, &square, fill);
    DeleteObject(fill);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, layout.fillRgb);
    SetTextColor(dc, layout.fontRgb);
    // TextOutW's origin is the top-left of the text cell, as the layout's.
    for (const auto& line : layout.lines) {
        const std::wstring wide = widen(line.text);
        TextOutW(dc, line.x, line.y, wide.c_str(), static_cast<int>(wide.size()));
    }
    if (!layout.border.empty()) {
        HBRUSH frame = CreateSolidBrush(layout.borderRgb);
        for (const TrayRect& rect : layout.border) {
            const RECT r{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
            FillRect(dc, &r, frame);
        }
        DeleteObject(frame);
    }
    GdiFlush();

    // GDI leaves the alpha byte 0; the icon's own alpha decides, with the
    // mask for shells without it: opaque but for clNone's colour.
    auto* pixels = static_cast<std::uint32_t*>(bits);
    const bool anyTransparent = layout.transparentRgb.has_value();
    const std::uint32_t transparent = anyTransparent ? dibPixel(*layout.transparentRgb) : 0;
    for (int i = 0; i < n * n; ++i) {
        std::uint32_t& pixel = pixels[i];
        pixel = anyTransparent && (pixel & 0xFFFFFF) == transparent ? 0 : pixel | 0xFF000000u;
    }
    SelectObject(dc, oldFont);
    DeleteObject(font);
    SelectObject(dc, oldBitmap);

    // At the size the shell shows (20 to 32 px from 125 % on), each pixel of
    // the square repeated: the shell would stretch the 16 x 16 one blurred.
    void* scaledBits = nullptr;
    HBITMAP scaled = sizePx > 0 && sizePx != n ? createTopDownBitmap(dc, sizePx, sizePx, &scaledBits) : nullptr;
    const int size = scaled ? sizePx : n;
    if (scaled) {
        auto* out = static_cast<std::uint32_t*>(scaledBits);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) out[y * size + x] = pixels[(y * n / size) * n + x * n / size];
        }
        DeleteObject(color);
        color = scaled;
        pixels = out;
    }
    DeleteDC(dc);

    // 1 bit a pixel, rows of whole WORDs: set where the pixel is transparent.
    const int rowBytes = (size + 15) / 16 * 2;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(rowBytes * size));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (pixels[y * size + x] == 0) mask[y * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    }
    HBITMAP maskBitmap = CreateBitmap(size, size, 1, 1, mask.data());
    ICONINFO iconInfo{};
    iconInfo.fIcon = TRUE;
    iconInfo.hbmMask = maskBitmap;
    iconInfo.hbmColor = color;
    HICON icon = CreateIconIndirect(&iconInfo);
    DeleteObject(maskBitmap);
    DeleteObject(color);
    return icon;
}

NOTIFYICONDATAW WinTrayIcon::record(UINT flags) const
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner_;
    data.uID = kIconId;
    data.uFlags = flags;
    data.uCallbackMessage = callbackMessage_;
    data.hIcon = icon_;
    return data;
}

void WinTrayIcon::add()
{
    // No tip: the icon shows none. An add that timed out may have added it
    // all the same: then only a modify reaches it.
    NOTIFYICONDATAW data = record(NIF_MESSAGE | NIF_ICON);
    added_ = notify_(NIM_ADD, &data) || notify_(NIM_MODIFY, &data);
    if (!added_) {
        SetTimer(owner_, retryTimer_, kRetryMs, nullptr);
        return;
    }
    KillTimer(owner_, retryTimer_);
    // Version 0: the callback's lParam is the mouse message itself.
    data.uVersion = 0;
    notify_(NIM_SETVERSION, &data);
}

void WinTrayIcon::paint(const TrayIconLook& look)
{
    HICON fresh = paintIcon(look, sizePx_);
    if (!fresh) {
        diagnostic("the tray icon could not be painted (" + windowsErrorText(GetLastError()) + ")");
        return;
    }
    HICON old = icon_;
    icon_ = fresh;
    // An icon the shell lost (a restart whose TaskbarCreated never came) is added again.
    NOTIFYICONDATAW data = record(NIF_ICON);
    if (!added_ || !notify_(NIM_MODIFY, &data)) add();
    if (old) DestroyIcon(old);
}

void WinTrayIcon::addAgain()
{
    if (icon_) add();
}

void WinTrayIcon::showBalloon(const std::string& text)
{
    NOTIFYICONDATAW data = record(NIF_INFO);
    copyText(data.szInfoTitle, L"oruDriver");
    copyText(data.szInfo, widen(text));
    data.dwInfoFlags = NIIF_INFO;
    notify_(NIM_MODIFY, &data);
}

void WinTrayIcon::remove()
{
    KillTimer(owner_, retryTimer_);
    if (!added_) return;
    NOTIFYICONDATAW data = record(0);
    notify_(NIM_DELETE, &data);
    added_ = false;
}

} // namespace oru
