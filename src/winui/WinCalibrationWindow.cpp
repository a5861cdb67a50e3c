#include "winui/WinCalibrationWindow.h"

#include "common/HandlerErrors.h"
#include "platform/windows/WideText.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace oru {

namespace {

constexpr wchar_t kClassName[] = L"TcalibrationForm";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1IntervalMs = 500;
constexpr COLORREF kRed = RGB(255, 0, 0);   // target1
constexpr COLORREF kBlue = RGB(0, 6, 255);  // target2, above target1
constexpr int kLabelHeightPx = 19;          // at 96 dpi; Calibri's character height

HINSTANCE moduleInstance()
{
    return GetModuleHandleW(nullptr);
}

void registerClassOnce()
{
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.hInstance = moduleInstance();
        windowClass.lpszClassName = kClassName;
        // The button face, as the window's definition has it; no cursor of
        // its own: WM_SETCURSOR hides it over the window.
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        windowClass.lpfnWndProc = DefWindowProcW;
        if (!RegisterClassExW(&windowClass)) {
            throw std::runtime_error("Cannot register the calibration window's class: " +
                                     windowsErrorText(GetLastError()));
        }
        return true;
    }();
    (void)registered;
}

// One crosshair centred on (x, y), window pixels: 2-pixel lines across the
// 72-pixel image covering pixels centre - 1 and centre, and the circle.
void drawCrosshair(HDC dc, POINT crossing, COLORREF color)
{
    const int half = kCrosshairImagePx / 2;
    const int left = crossing.x - half;
    const int top = crossing.y - half;
    HBRUSH lineBrush = CreateSolidBrush(color);
    const RECT across{left, crossing.y - kCrosshairLinePx / 2, left + kCrosshairImagePx,
                      crossing.y - kCrosshairLinePx / 2 + kCrosshairLinePx};
    const RECT down{crossing.x - kCrosshairLinePx / 2, top, crossing.x - kCrosshairLinePx / 2 + kCrosshairLinePx,
                    top + kCrosshairImagePx};
    FillRect(dc, &across, lineBrush);
    FillRect(dc, &down, lineBrush);
    DeleteObject(lineBrush);

    HPEN circlePen = CreatePen(PS_SOLID, kCrosshairLinePx, color);
    HGDIOBJ oldPen = SelectObject(dc, circlePen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    const int radius = kCrosshairCirclePx / 2;
    Ellipse(dc, crossing.x - radius, crossing.y - radius, crossing.x + radius, crossing.y + radius);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(circlePen);
}

} // namespace

WinCalibrationWindow::WinCalibrationWindow(TMainFormState& state, CalibrationHost& host)
    : state_(state), procedure_(state, *this, host), close_([this] { closeNow(); })
{
    registerClassOnce();
    // Made once, hidden, for the program's life: Timer1 belongs to it, and an
    // ESC in the first 500 ms leaves the timer armed on the hidden window.
    window_ = CreateWindowExW(WS_EX_TOPMOST, kClassName, L"CalibrationForm", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              moduleInstance(), nullptr);
    if (!window_) {
        throw std::runtime_error("Cannot create the calibration window: " + windowsErrorText(GetLastError()));
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WinCalibrationWindow::windowProc));
}

WinCalibrationWindow::~WinCalibrationWindow()
{
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    DestroyWindow(window_);
    if (labelFont_) DeleteObject(labelFont_);
}

LRESULT CALLBACK WinCalibrationWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<WinCalibrationWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT WinCalibrationWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kTimer1) {
            Timer1Timer();
            return 0;
        }
        break;
    case WM_KEYDOWN:
        guarded([&] { FormKeyPress(wParam); });
        return 0;
    case WM_CLOSE:
        // Alt+F4 and the like: a cancel, as ESC. The run must not go on
        // waiting for the pen on a window nobody sees.
        guarded([&] { FormKeyPress(VK_ESCAPE); });
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    case WM_DPICHANGED:
        // The window stays over the board monitor at its physical size:
        // Windows' suggested rectangle would scale it.
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paintStruct;
        HDC dc = BeginPaint(window_, &paintStruct);
        paint(dc);
        EndPaint(window_, &paintStruct);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void WinCalibrationWindow::paint(HDC dc) const
{
    if (labelFont_) {
        HGDIOBJ oldFont = SelectObject(dc, labelFont_);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        static const std::wstring label = widen("Kalibre işlemini iptal etmek için ESC tuşuna basın");
        TextOutW(dc, 8, 8, label.c_str(), static_cast<int>(label.size()));
        SelectObject(dc, oldFont);
    }
    if (!shownTarget_) return;
    const RECT board = boardRect();
    POINT crossing{board.left + shownTarget_->x, board.top + shownTarget_->y};
    ScreenToClient(window_, &crossing);
    if (redVisible_) drawCrosshair(dc, crossing, kRed);
    if (blueVisible_) drawCrosshair(dc, crossing, kBlue);
}

RECT WinCalibrationWindow::crosshairRect() const
{
    if (!shownTarget_) return RECT{};
    const RECT board = boardRect();
    POINT crossing{board.left + shownTarget_->x, board.top + shownTarget_->y};
    ScreenToClient(window_, &crossing);
    const int half = kCrosshairImagePx / 2;
    return RECT{crossing.x - half, crossing.y - half, crossing.x + half, crossing.y + half};
}

RECT WinCalibrationWindow::boardRect() const
{
    if (board_ && board_->geometry.widthPx > 0 && board_->geometry.heightPx > 0) {
        const ScreenRecord& g = board_->geometry;
        return RECT{g.xPx, g.yPx, g.xPx + g.widthPx, g.yPx + g.heightPx};
    }
    // The primary monitor: the one with the virtual screen's origin.
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info)) return info.rcMonitor;
    return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

int WinCalibrationWindow::screenWidthPx() const
{
    const RECT board = boardRect();
    return board.right - board.left;
}

int WinCalibrationWindow::screenHeightPx() const
{
    const RECT board = boardRect();
    return board.bottom - board.top;
}

void WinCalibrationWindow::exec()
{
    if (underWay()) {
        raise();
        return;
    }
    closed_ = false;
    ++modalLoops_;
    FormShow();
    while (!closed_ && !quitPending_) {
        MSG message;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            quitSeen(message.wParam);
            break;
        }
        if (got < 0) break;  // only for an invalid window handle, which is not passed
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    --modalLoops_;
    if (!closed_) closeNow();  // the program is ending
    passQuitOn();
}

void WinCalibrationWindow::FormShow()
{
    // Over the whole board monitor, above every other window, with the keys.
    const RECT board = boardRect();
    close_.shown();
    procedure_.prepareShow();
    shownTarget_.reset();
    redVisible_ = false;
    blueVisible_ = false;
    SetWindowPos(window_, HWND_TOPMOST, board.left, board.top, board.right - board.left, board.bottom - board.top,
                 SWP_SHOWWINDOW);
    // The label in the board monitor's scale (the window is there now); the
    // crosshairs keep their pixel size, which the targets' offsets assume.
    const UINT dpi = GetDpiForWindow(window_);
    if (labelFont_) DeleteObject(labelFont_);
    labelFont_ = CreateFontW(-MulDiv(kLabelHeightPx, dpi ? static_cast<int>(dpi) : 96, 96), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, TURKISH_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, L"Calibri");
    SetForegroundWindow(window_);
    SetFocus(window_);
    InvalidateRect(window_, nullptr, TRUE);
    UpdateWindow(window_);
    SetTimer(window_, kTimer1, kTimer1IntervalMs, nullptr);
}

void WinCalibrationWindow::FormKeyPress(WPARAM key)
{
    if (key != VK_ESCAPE) return;
    close_.cancel(state_);
}

bool WinCalibrationWindow::runEndsAtOnce() const
{
    return !IsWindowVisible(window_) || close_.closeRequested() || quitRequested_;
}

std::string WinCalibrationWindow::placementText() const
{
    RECT window{};
    GetWindowRect(window_, &window);
    const RECT board = boardRect();
    return "window " + std::to_string(window.right - window.left) + "x" + std::to_string(window.bottom - window.top) +
           " at " + std::to_string(window.left) + "," + std::to_string(window.top) + ", screen " +
           std::to_string(board.right - board.left) + "x" + std::to_string(board.bottom - board.top) + " at " +
           std::to_string(board.left) + "," + std::to_string(board.top);
}

std::string WinCalibrationWindow::placementAdvice() const
{
    return "Check the board screen's setting in the tray menu and calibrate again.";
}

bool WinCalibrationWindow::overTargets()
{
    RECT window;
    if (!GetWindowRect(window_, &window)) return false;
    const RECT board = boardRect();
    return std::all_of(state_.TargetPoints.begin(), state_.TargetPoints.end(), [&](TPoint target) {
        const POINT onScreen{board.left + target.x, board.top + target.y};
        return PtInRect(&window, onScreen) != 0;
    });
}

void WinCalibrationWindow::Timer1Timer()
{
    // One-shot: no second run can start from the pumps below.
    KillTimer(window_, kTimer1);
    bool misplaced = false;
    std::exception_ptr error;
    close_.run([&] {
        try {
            misplaced = !procedure_.runWhereShown();
        } catch (...) {
            error = std::current_exception();
        }
    });
    // Said once the window is gone: a message box under a topmost full-screen
    // window would not be seen.
    if (misplaced) reportHandlerError(ECalibrationWindowMisplaced());
    if (error) guarded([&] { std::rethrow_exception(error); });
    // A run on the hidden window (ESC before the start) ends inside the
    // program's own loop: a quit it took out goes back there.
    if (modalLoops_ == 0) passQuitOn();
}

void WinCalibrationWindow::closeNow()
{
    closed_ = true;
    if (IsWindowVisible(window_)) ShowWindow(window_, SW_HIDE);
}

bool WinCalibrationWindow::underWay() const
{
    return IsWindowVisible(window_) || close_.running();
}

void WinCalibrationWindow::raise()
{
    if (!IsWindowVisible(window_)) return;
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(window_);
}

void WinCalibrationWindow::requestClose()
{
    close_.request();
}

void WinCalibrationWindow::showTargets(TPoint targetPx, bool redVisible, bool blueVisible)
{
    RECT before = crosshairRect();
    shownTarget_ = targetPx;
    redVisible_ = redVisible;
    blueVisible_ = blueVisible;
    const RECT after = crosshairRect();
    InvalidateRect(window_, &before, TRUE);
    InvalidateRect(window_, &after, TRUE);
    // Painted now: a stream of reports posted to the main thread comes before
    // WM_PAINT in the queue and would keep the crosshair from showing.
    UpdateWindow(window_);
}

void WinCalibrationWindow::pump()
{
    MSG message;
    while (!quitPending_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitSeen(message.wParam);
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void WinCalibrationWindow::waitAndPump()
{
    // Blocks only when nothing waits in the queue, including messages an
    // earlier peek has already seen (MWMO_INPUTAVAILABLE).
    if (!quitPending_) MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    pump();
}

void WinCalibrationWindow::quitSeen(WPARAM exitCode)
{
    // The program is ending: the run stops as if cancelled, and the quit
    // goes on to the program's loop once the nested loops are left.
    quitPending_ = true;
    quitCode_ = exitCode;
    quitRequested_ = true;
}

void WinCalibrationWindow::passQuitOn()
{
    if (!quitPending_) return;
    quitPending_ = false;
    PostQuitMessage(static_cast<int>(quitCode_));
}

} // namespace oru
