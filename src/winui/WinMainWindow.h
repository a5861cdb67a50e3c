#pragma once

#include "app/MainFormState.h"
#include "app/MainWindowController.h"
#include "platform/windows/WinMessageWaker.h"
#include "settings/AppRegistryStorage.h"
#include "settings/FormTextStorage.h"
#include "tray/BoardScreenEntries.h"
#include "tray/TrayMenu.h"
#include "winui/WinDriverCommands.h"
#include "winui/WinTrayIcon.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oru {

class HidSystem;
class PointerOutput;
class RegistryStore;
class WinAboutBox;
class WinCalibrationWindow;

/// The main window TMainForm of the Windows program: a hidden top-level window
/// ("oru USB Driver") that never shows on screen or on the taskbar. It owns the
/// tray icon and its menu, the release watchdog's timer (gerisayim), the stored
/// texts Edit1..Edit8 and BoardScreen with their storage, and the driver's
/// state; its logic is MainWindowController's, this is the controller's Win32
/// shell. Being a top-level window, it receives the desktop's broadcasts:
/// device changes, display changes and the session's end.
class WinMainWindow final : private MainWindowShell, private PlacementWindow {
public:
    /// The system services the window works with, chosen by the program entry.
    struct Services {
        PointerOutput& pointer;  // where the pen's mouse goes
        RegistryStore& store;    // the per-user settings store
        HidSystem& hid;          // HID devices: the pen tracker
    };
    WinMainWindow(HINSTANCE instance, const Services& services);
    ~WinMainWindow() override;
    WinMainWindow(const WinMainWindow&) = delete;
    WinMainWindow& operator=(const WinMainWindow&) = delete;

    /// The other two windows, made after this one.
    void setWindows(WinCalibrationWindow* calibrationForm, WinAboutBox* aboutBox);
    /// Gives the machine's calibration for an account without its own.
    void setMachineCalibration(std::function<std::optional<CalibrationTexts>()> load)
    {
        controller_.setMachineCalibration(std::move(load));
    }

    HWND handle() const { return window_; }
    TMainFormState state;
    /// The calibration window reports to the controller.
    CalibrationHost& calibrationHost() { return controller_; }

    /// Runs the message loop until "Çıkış"; the first show comes first.
    int run();
    /// Queues "Kalibre" after the first show (--calibrate at the start).
    void calibrateSoon();
    /// A notice in the tray's balloon.
    void notify(const std::string& text) { showNotice(text); }
    /// Orderly end: a button the pen still holds is released first.
    void shutdown() { controller_.shutdown(); }

    // The handlers, named as the window's components' events.
    void FormCreate();
    void FormShow();
    void Kalibre1Click() { controller_.Kalibre1Click(); }
    void Hakknda1Click() { controller_.Hakknda1Click(); }
    void k1Click() { controller_.k1Click(); }
    void gerisayimTimer() { controller_.watchdogTimer(); }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createWindow();
    void buildMenu();
    void openMenuAtCursor();
    void runMenuCommand(UINT id);
    void registerForSessionChanges();
    void runCommand(WinDriverCommand command);
    TrayIconLook trayLook() const;

    // MainWindowShell
    bool hasCalibrationWindow() const override { return calibrationForm_ != nullptr; }
    bool calibrationUnderWay() const override;
    void raiseCalibration() override;
    void runCalibration() override;
    void closeCalibration() override;
    void placeCalibration(const DesktopScreen& board) override;
    void endCalibration() override;
    void showAboutBox() override;
    void quit() override { PostQuitMessage(0); }
    void paintTray(TColor color, TColor fontColor) override;
    void showNotice(const std::string& text) override;
    void showBoardScreenMenu(const std::vector<DesktopScreen>& screens, const std::string& choice) override;
    void startWatchdogTimer(std::chrono::milliseconds delay) override;
    void stopWatchdogTimer() override;
    std::vector<ScreenRecord> screens() const override;
    std::pair<int, int> primaryScreenSizePx() const override;
    CalibrationTexts calibrationTexts() const override { return edits_; }
    void setCalibrationTexts(const CalibrationTexts& texts) override { edits_ = texts; }
    std::string boardScreenChoice() const override { return boardScreen_; }
    void setBoardScreenChoice(const std::string& choice) override { boardScreen_ = choice; }
    void saveCalibrationTexts(bool save) override;
    void persistTexts() override { FormStorage1_.PersistState(); }
    void saveAtEnd() override;
    void saveAtSessionEnd() override;
    std::string settingsPlace() const override { return "the registry key HKEY_CURRENT_USER\\Software\\oruDriver"; }
    void removeTray() override;
    void unwatchDevices() override;

    // PlacementWindow
    bool exists() const override { return window_ != nullptr; }
    std::string name() const override { return "MainForm"; }
    PlacementRect frame() const override;
    PlacementRect normalFrame() const override;
    void moveFrame(int left, int top) override;
    void resizeBy(int widthChange, int heightChange) override;
    bool sizeable() const override { return false; }

    HINSTANCE instance_;
    HWND window_ = nullptr;
    UINT taskbarCreated_ = 0;
    CalibrationTexts edits_;   // Edit1..Edit8
    std::string boardScreen_;  // BoardScreen: an output name, "" for the primary
    TAppRegistryStorage AppRegistryStorage1_;
    FormTextStorage FormStorage1_;
    WinMessageWaker waker_;
    std::unique_ptr<WinTrayIcon> TrayIcon1_;
    TColor trayColor_ = clRed;
    TColor trayFontColor_ = clWhite;
    HMENU PopupMenu1_ = nullptr;
    HMENU TahtaEkrani1_ = nullptr;
    std::vector<BoardScreenEntry> boardEntries_;  // the submenu's, by command id
    WinCalibrationWindow* calibrationForm_ = nullptr;
    WinAboutBox* aboutBox_ = nullptr;
    THidDeviceController* HidDeviceController_ = nullptr;  // the controller's, while the window lives
    MainWindowController controller_;
};

} // namespace oru
