#include "winui/WinMainWindow.h"

#include "app/CalibrationChoice.h"
#include "common/HandlerErrors.h"
#include "device/HidDeviceController.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinScreens.h"
#include "platform/windows/WinSingleInstance.h"
#include "winui/WinAboutBox.h"
#include "winui/WinCalibrationWindow.h"

#include <wtsapi32.h>

#include <stdexcept>

namespace oru {

namespace {

// Private messages of the main window.
constexpr UINT kWakeMessage = WM_APP + 1;       // the device layer's waker: runPending()
constexpr UINT kFirstShowMessage = WM_APP + 2;  // the one show, once the loop runs
constexpr UINT kCommandMessage = WM_APP + 3;    // a command of another start, run outside its send
constexpr UINT kTrayMessage = WM_USER + 1024;   // the tray icon's mouse events
constexpr UINT_PTR kWatchdogTimer = 1;          // gerisayim
constexpr UINT_PTR kTrayRetryTimer = 2;         // the tray icon not yet confirmed by the shell

// Menu command ids.
constexpr UINT kKalibre1 = 101;
constexpr UINT kHakknda1 = 102;
constexpr UINT kK1 = 103;
constexpr UINT kBoardScreenFirst = 200;  // "Tahta ekranı" entries from here on

// The client area of the main window's definition, px.
constexpr int kClientWidthPx = 139;
constexpr int kClientHeightPx = 147;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
// No taskbar button, whatever the window's state.
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME;

PlacementRect placementRect(const RECT& rect)
{
    return {rect.left, rect.top, rect.right, rect.bottom};
}

ScreenMetrics windowsScreenMetrics()
{
    ScreenMetrics metrics;
    const auto [width, height] = windowsPrimaryScreenSize();
    metrics.widthPx = width;
    metrics.heightPx = height;
    HDC screen = GetDC(nullptr);
    metrics.pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return metrics;
}

} // namespace

WinMainWindow::WinMainWindow(HINSTANCE instance, const Services& services)
    : instance_(instance),
      AppRegistryStorage1_(services.store),
      FormStorage1_(*this, &AppRegistryStorage1_,
                    [this](const std::exception& error) { controller_.reportStorageError(error); },
                    &windowsScreenMetrics),
      waker_(kWakeMessage),
      controller_(state, services.pointer, *this)
{
    edits_.fill("0");
    createWindow();
    waker_.setWindow(window_);
    // The show runs once the loop starts, after the other windows exist and
    // before the first device scan that the controller posts.
    PostMessageW(window_, kFirstShowMessage, 0, 0);

    // The calibration texts live in the user's registry between runs.
    AppRegistryStorage1_.setRoot(TCustomAppStorage::kNoRoot);
    FormStorage1_.setAppStoragePath(std::string(kCalibrationKey) + "\\");
    FormStorage1_.Options = {fpLocation};
    for (int i = 0; i < 8; ++i) {
        FormStorage1_.addText(
            calibrationEditName(i), [this, i] { return edits_[i]; },
            [this, i](const std::string& text) { edits_[i] = text; });
    }
    FormStorage1_.addText(
        "BoardScreen", [this] { return boardScreen_; }, [this](const std::string& text) { boardScreen_ = text; });

    buildMenu();
    TrayIcon1_ = std::make_unique<WinTrayIcon>(window_, kTrayMessage, kTrayRetryTimer);
    TrayIcon1_->paint(trayLook());
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");

    HidDeviceController_ = &controller_.attachDevices(services.hid, waker_);
    registerForSessionChanges();
    FormCreate();
}

WinMainWindow::~WinMainWindow()
{
    // The stored texts still exist here, so they can be saved.
    controller_.end();
    HidDeviceController_ = nullptr;
    if (PopupMenu1_) DestroyMenu(PopupMenu1_);
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void WinMainWindow::createWindow()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WinMainWindow::windowProc;
    windowClass.hInstance = instance_;
    const std::wstring className = widen(kMainWindowClass);
    windowClass.lpszClassName = className.c_str();
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("the main window's class could not be registered: " +
                                 windowsErrorText(GetLastError()));
    }
    RECT outer{0, 0, kClientWidthPx, kClientHeightPx};
    AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
    // Never shown: a hidden top-level window has no taskbar button and still
    // receives the desktop's broadcasts (a message-only window would not).
    window_ = CreateWindowExW(kExStyle, className.c_str(), widen(kMainWindowCaption).c_str(), kStyle, 0, 0,
                              outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance_, this);
    if (!window_) {
        throw std::runtime_error("the main window could not be made: " + windowsErrorText(GetLastError()));
    }
}

void WinMainWindow::registerForSessionChanges()
{
    // Session changes (lock, switch user) come only to windows that ask.
    if (!WTSRegisterSessionNotification(window_, NOTIFY_FOR_THIS_SESSION)) {
        diagnostic("session changes are not reported to the driver (" + windowsErrorText(GetLastError()) +
                   "); a pen button held when the session is locked goes up at the pen's next report");
    }
}

void WinMainWindow::setWindows(WinCalibrationWindow* calibrationForm, WinAboutBox* aboutBox)
{
    calibrationForm_ = calibrationForm;
    aboutBox_ = aboutBox;
}

void WinMainWindow::FormCreate()
{
    controller_.created();
}

void WinMainWindow::FormShow()
{
    // Off-screen, and never shown anyway.
    SetWindowPos(window_, nullptr, 5000, 5000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    controller_.firstShow();
}

int WinMainWindow::run()
{
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got < 0 ? 1 : static_cast<int>(message.wParam);
}

void WinMainWindow::calibrateSoon()
{
    PostMessageW(window_, kCommandMessage, static_cast<WPARAM>(WinDriverCommand::Calibrate), 0);
}

void WinMainWindow::runCommand(WinDriverCommand command)
{
    switch (command) {
    case WinDriverCommand::Calibrate:
        Kalibre1Click();
        break;
    case WinDriverCommand::Quit:
        // Asked from elsewhere: nobody may be at the screen to answer a box.
        controller_.setEndingUnattended();
        k1Click();
        break;
    }
}

LRESULT CALLBACK WinMainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<WinMainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    // Before the window is set up and after its end, Windows' defaults.
    if (!self || !self->window_) return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    bool handled = false;
    guarded([&] {
        result = self->onMessage(message, wParam, lParam);
        handled = true;
    });
    return handled ? result : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT WinMainWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kWakeMessage:
        waker_.consume();
        if (HidDeviceController_) HidDeviceController_->runPending();
        return 0;
    case kFirstShowMessage:
        FormStorage1_.showHook([this] { guarded([this] { FormShow(); }); });
        return 0;
    case kCommandMessage:
        runCommand(static_cast<WinDriverCommand>(wParam));
        return 0;
    case WM_COPYDATA: {
        // Another start's --calibrate or --quit: answered at once, run from
        // the loop, so that the sender doesn't wait for a calibration.
        WinDriverCommand command;
        if (!readDriverCommand(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), command)) return FALSE;
        // Once the end has begun the loop that would run it is gone (a box
        // about a failed save may still pump messages): say so.
        if (controller_.ending()) return kCommandRefusedEnding;
        // An open tray menu runs a loop of its own that would hold the command.
        EndMenu();
        PostMessageW(window_, kCommandMessage, static_cast<WPARAM>(command), 0);
        return kCommandTaken;
    }
    case WM_TIMER:
        if (wParam == kWatchdogTimer) gerisayimTimer();
        if (wParam == kTrayRetryTimer && TrayIcon1_) TrayIcon1_->addAgain();
        return 0;
    case WM_WTSSESSION_CHANGE:
        // Locked (Win+L), switched to another user, disconnected or logged
        // off: let go of a held button before the secure desktop takes the input.
        if (wParam == WTS_SESSION_LOCK || wParam == WTS_CONSOLE_DISCONNECT || wParam == WTS_REMOTE_DISCONNECT ||
            wParam == WTS_SESSION_LOGOFF) {
            controller_.sessionLeft();
        }
        return 0;
    case WM_DISPLAYCHANGE:
        controller_.screensChanged(screens());
        return 0;
    case WM_QUERYENDSESSION:
        // Log-off or shut-down: save now, the process may not get to its end.
        controller_.sessionEnding();
        return TRUE;
    case WM_ENDSESSION:
        if (wParam) {
            controller_.sessionEnding();
            controller_.shutdown();
        }
        return 0;
    case kTrayMessage:
        // Only the right button's press does anything: it opens the menu.
        if (LOWORD(lParam) == WM_RBUTTONDOWN) openMenuAtCursor();
        return 0;
    case WM_CLOSE:
        // Only "Çıkış" (or --quit) ends the driver.
        return 0;
    default:
        if (message == taskbarCreated_ && taskbarCreated_ != 0) {
            if (TrayIcon1_) TrayIcon1_->addAgain();
            return 0;
        }
        return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void WinMainWindow::buildMenu()
{
    PopupMenu1_ = CreatePopupMenu();
    TahtaEkrani1_ = CreatePopupMenu();
    for (const TrayMenuItem& item : kTrayMenu) {
        const std::wstring caption = widen(item.caption);
        switch (item.entry) {
        case TrayMenuEntry::Kalibre: AppendMenuW(PopupMenu1_, MF_STRING, kKalibre1, caption.c_str()); break;
        case TrayMenuEntry::TahtaEkrani:
            AppendMenuW(PopupMenu1_, MF_POPUP, reinterpret_cast<UINT_PTR>(TahtaEkrani1_), caption.c_str());
            break;
        case TrayMenuEntry::Hakkinda: AppendMenuW(PopupMenu1_, MF_STRING, kHakknda1, caption.c_str()); break;
        case TrayMenuEntry::Separator: AppendMenuW(PopupMenu1_, MF_SEPARATOR, 0, nullptr); break;
        case TrayMenuEntry::Cikis: AppendMenuW(PopupMenu1_, MF_STRING, kK1, caption.c_str()); break;
        }
    }
    showBoardScreenMenu({}, boardScreen_);
}

void WinMainWindow::openMenuAtCursor()
{
    // The menu closes when the user clicks elsewhere only if its owner is the
    // foreground window; the null message afterwards lets it close at once.
    SetForegroundWindow(window_);
    POINT cursor{};
    GetCursorPos(&cursor);
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(
        PopupMenu1_, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, cursor.x, cursor.y, 0,
        window_, nullptr));
    PostMessageW(window_, WM_NULL, 0, 0);
    // The item's handler runs once the menu is gone: it may open a window or
    // rebuild the menu.
    if (chosen) runMenuCommand(chosen);
}

void WinMainWindow::runMenuCommand(UINT id)
{
    switch (id) {
    case kKalibre1:
        Kalibre1Click();
        return;
    case kHakknda1:
        Hakknda1Click();
        return;
    case kK1:
        k1Click();
        return;
    default:
        if (id >= kBoardScreenFirst && id - kBoardScreenFirst < boardEntries_.size()) {
            const std::string choice = boardEntries_[id - kBoardScreenFirst].choice;
            controller_.chooseBoardScreen(choice);
        }
        return;
    }
}

TrayIconLook WinMainWindow::trayLook() const
{
    TrayIconLook look;
    look.text = "oru";
    look.color = trayColor_;
    look.fontColor = trayFontColor_;
    return look;
}

// MainWindowShell: what the controller asks of the Win32 windows.

bool WinMainWindow::calibrationUnderWay() const
{
    return calibrationForm_ && calibrationForm_->underWay();
}

void WinMainWindow::raiseCalibration()
{
    calibrationForm_->raise();
}

void WinMainWindow::runCalibration()
{
    calibrationForm_->exec();
    // The messages its close posted, once.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void WinMainWindow::closeCalibration()
{
    calibrationForm_->requestClose();
}

void WinMainWindow::placeCalibration(const DesktopScreen& board)
{
    if (calibrationForm_) calibrationForm_->setBoardScreen(board);
}

void WinMainWindow::endCalibration()
{
    if (calibrationForm_) calibrationForm_->setQuitRequested();
}

void WinMainWindow::showAboutBox()
{
    if (aboutBox_ && !aboutBox_->visible()) aboutBox_->exec();
}

void WinMainWindow::paintTray(TColor color, TColor fontColor)
{
    if (!TrayIcon1_) return;  // the window's end: the icon goes before the device layer
    // Every call repaints the square, also with the colours it has.
    trayColor_ = color;
    trayFontColor_ = fontColor;
    TrayIcon1_->paint(trayLook());
}

void WinMainWindow::showNotice(const std::string& text)
{
    diagnostic(text);
    if (TrayIcon1_) TrayIcon1_->showBalloon(text);
}

void WinMainWindow::showBoardScreenMenu(const std::vector<DesktopScreen>& screens, const std::string& choice)
{
    if (!TahtaEkrani1_) return;
    while (GetMenuItemCount(TahtaEkrani1_) > 0) DeleteMenu(TahtaEkrani1_, 0, MF_BYPOSITION);
    boardEntries_ = boardScreenEntries(screens, choice);
    for (std::size_t i = 0; i < boardEntries_.size(); ++i) {
        const BoardScreenEntry& entry = boardEntries_[i];
        if (entry.separator) {
            AppendMenuW(TahtaEkrani1_, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        const UINT id = kBoardScreenFirst + static_cast<UINT>(i);
        AppendMenuW(TahtaEkrani1_, MF_STRING | (entry.enabled ? 0 : MF_GRAYED), id, widen(entry.text).c_str());
        if (entry.checked) CheckMenuRadioItem(TahtaEkrani1_, id, id, id, MF_BYCOMMAND);
    }
}

void WinMainWindow::startWatchdogTimer(std::chrono::milliseconds delay)
{
    // Windows raises anything below 10 ms to 10 ms (USER_TIMER_MINIMUM).
    SetTimer(window_, kWatchdogTimer, static_cast<UINT>(delay.count()), nullptr);
}

void WinMainWindow::stopWatchdogTimer()
{
    KillTimer(window_, kWatchdogTimer);
}

std::vector<ScreenRecord> WinMainWindow::screens() const
{
    return windowsScreens();
}

std::pair<int, int> WinMainWindow::primaryScreenSizePx() const
{
    return windowsPrimaryScreenSize();
}

void WinMainWindow::saveCalibrationTexts(bool save)
{
    for (int i = 0; i < 8; ++i) FormStorage1_.setStored(calibrationEditName(i), save);
}

void WinMainWindow::saveAtEnd()
{
    FormStorage1_.destroyHook({});
}

void WinMainWindow::saveAtSessionEnd()
{
    bool canClose = true;
    FormStorage1_.closeQueryHook(canClose);
}

void WinMainWindow::removeTray()
{
    TrayIcon1_.reset();
}

void WinMainWindow::unwatchDevices()
{
    WTSUnRegisterSessionNotification(window_);
    HidDeviceController_ = nullptr;
}

// PlacementWindow

PlacementRect WinMainWindow::frame() const
{
    RECT rect{};
    GetWindowRect(window_, &rect);
    return placementRect(rect);
}

PlacementRect WinMainWindow::normalFrame() const
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window_, &placement)) return frame();
    return placementRect(placement.rcNormalPosition);
}

void WinMainWindow::moveFrame(int left, int top)
{
    SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WinMainWindow::resizeBy(int widthChange, int heightChange)
{
    RECT rect{};
    GetWindowRect(window_, &rect);
    SetWindowPos(window_, nullptr, 0, 0, rect.right - rect.left + widthChange, rect.bottom - rect.top + heightChange,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace oru
