#include "winui/WinAboutBox.h"

#include "app/AboutTexts.h"
#include "common/HandlerErrors.h"
#include "platform/windows/WideText.h"

#include <stdexcept>

namespace oru {

namespace {

constexpr wchar_t kClassName[] = L"TForm1";
constexpr int kMarginPx = 8;
constexpr int kLineHeightPx = 16;
constexpr int kButtonWidthPx = 75;
constexpr int kButtonHeightPx = 25;

} // namespace

WinAboutBox::WinAboutBox(HINSTANCE instance) : instance_(instance) {}

WinAboutBox::~WinAboutBox()
{
    if (window_) DestroyWindow(window_);
    if (font_) DeleteObject(font_);
}

void WinAboutBox::create()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WinAboutBox::windowProc;
    windowClass.hInstance = instance_;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);

    // A caption without a system menu: no close, minimise or maximise box;
    // "Kapat" closes the box. Centred on the primary screen.
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kAboutWidthPx) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kAboutHeightPx) / 2;
    window_ = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kClassName, widen(kAboutCaption).c_str(),
                              WS_POPUP | WS_CAPTION, x, y, kAboutWidthPx, kAboutHeightPx, nullptr, nullptr,
                              instance_, this);
    if (!window_) throw std::runtime_error("the about box could not be made: " + windowsErrorText(GetLastError()));

    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    font_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");

    RECT client{};
    GetClientRect(window_, &client);
    const int width = client.right - 2 * kMarginPx;
    const auto child = [&](const wchar_t* kind, const std::string& text, DWORD style, int top, int w, int h, int id) {
        HWND control = CreateWindowExW(0, kind, widen(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                                       (client.right - w) / 2, top, w, h, window_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    };
    child(L"STATIC", kAboutProductName, SS_CENTER, kMarginPx, width, kLineHeightPx, 1);   // Label1
    child(L"STATIC", kProductWebAddress, SS_CENTER, kMarginPx + kLineHeightPx + 4, width, kLineHeightPx, 2);  // Label2
    child(L"BUTTON", kAboutCloseCaption, BS_DEFPUSHBUTTON | WS_TABSTOP, client.bottom - kMarginPx - kButtonHeightPx,
          kButtonWidthPx, kButtonHeightPx, IDOK);  // Button1
}

void WinAboutBox::exec()
{
    if (visible_) return;
    if (!window_) create();
    visible_ = true;
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    SetFocus(GetDlgItem(window_, IDOK));
    MSG message;
    bool quit = false;
    int quitCode = 0;
    while (visible_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The program ends: the box closes and the outer loop sees the quit.
            quit = true;
            quitCode = static_cast<int>(message.wParam);
            break;
        }
        if (IsDialogMessageW(window_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    visible_ = false;
    ShowWindow(window_, SW_HIDE);
    if (quit) PostQuitMessage(quitCode);
}

void WinAboutBox::Button1Click()
{
    visible_ = false;
}

LRESULT CALLBACK WinAboutBox::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* box = reinterpret_cast<WinAboutBox*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_COMMAND:
        // The button, Enter (IDOK) and ESC (IDCANCEL) close the box.
        if (box && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            guarded([box] { box->Button1Click(); });
            return 0;
        }
        break;
    case WM_CLOSE:
        if (box) box->Button1Click();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace oru
