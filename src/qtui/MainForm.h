#pragma once

#include "qtui/EditField.h"
#include "app/MainFormState.h"
#include "app/MainWindowController.h"
#include "calibration/CalibrationProcedure.h"
#include "settings/AppRegistryStorage.h"
#include "qtui/FormPlacement.h"
#include "settings/FormTextStorage.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSocketNotifier;

namespace oru {

class HidSystem;
class MainThreadWaker;
class THidDevice;
class PenTrackerAttachment;
class PointerOutput;
class RegistryStore;
class ScreenWatcher;
class THidDeviceController;
class TTextTrayIcon;
class TcalibrationForm;
class TForm1;

/// The main window. Never mapped on screen: it owns the tray icon and its
/// menu, the release watchdog's timer, the eight stored calibration texts and
/// all run-time state of the driver. Its logic is MainWindowController's: the
/// window is that controller's Qt shell and forwards its events to it.
class TMainForm : public QWidget, public CalibrationHost, private MainWindowShell {
    Q_OBJECT

public:
    /// The system services the window works with, chosen by the program entry.
    struct Services {
        PointerOutput& pointer;   // where the pen's mouse goes
        RegistryStore& store;     // the per-user settings store
        HidSystem& hid;           // HID devices: the pen tracker
        MainThreadWaker& waker;   // wakes this thread for the device readers' reports
    };
    explicit TMainForm(const Services& services, QWidget* parent = nullptr);
    ~TMainForm() override;

    /// The other two windows, created after this one.
    void setWindows(TcalibrationForm* calibrationForm, TForm1* aboutBox);
    /// Where a completed calibration goes: the controller.
    CalibrationHost& calibrationHost() { return controller_; }

    TMainFormState state;
    std::array<TEdit*, 8> Edits{};  // Edit1..Edit8
    TTextTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Kalibre1 = nullptr;
    QMenu* TahtaEkrani1 = nullptr;  // "Tahta ekranı": which screen is the board's
    TEdit* BoardScreen = nullptr;   // the stored choice: an output name, "" for the primary
    QAction* Hakknda1 = nullptr;
    QAction* N1 = nullptr;
    QAction* k1 = nullptr;
    QTimer gerisayim;
    TAppRegistryStorage AppRegistryStorage1;
    QtPlacementWindow placementWindow_{this};
    // The stored texts (Edit1..Edit8, BoardScreen) and the placement, as the
    // Windows shell keeps them.
    FormTextStorage FormStorage1;
    THidDeviceController* HidDeviceController = nullptr;  // the controller's, while the window lives

    void FormCreate();
    /// The one show of the window: restore stored texts, then FormShow.
    void firstShow();
    void FormShow();
    void FormDestroy();
    /// The desktop session is ending: save now, the process may not get to
    /// its regular end. Nobody may be at the screen any more: see
    /// setEndingUnattended.
    void sessionEnding();
    /// The program ends without anyone to answer a message box (a quit signal,
    /// the session's end): from now on the saves' errors go to stderr, so the
    /// end is never held up.
    void setEndingUnattended() { controller_.setEndingUnattended(); }
    void Kalibre1Click();
    void Hakknda1Click();
    void k1Click();
    /// The release watchdog, on every tick of gerisayim.
    void gerisayimTimer();
    /// Report handler of the pen tracker (its OnReport): one input report,
    /// run on the main thread; Data is valid only during the call.
    void ShowRead(THidDevice& HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size);

    /// Orderly end: a button the pen still holds is released first.
    void shutdown();

    /// Texts of Edit1..Edit8.
    CalibrationTexts calibrationTexts() const override;

    /// Gives the machine's calibration for an account without its own; asked
    /// once, at the first show, and only then.
    void setMachineCalibration(std::function<std::optional<CalibrationTexts>()> load)
    {
        controller_.setMachineCalibration(std::move(load));
    }

    /// The desktop's outputs changed: follow the board's screen (release a
    /// held button, refit or restart a running calibration, move the pointer's
    /// origin, one line on stderr). Called by the screen watcher once per
    /// burst of Qt's screen signals; before the first show it does nothing.
    void screensChanged(const std::vector<ScreenRecord>& outputs);
    /// A choice of the tray's "Tahta ekranı": an output name, or "" for
    /// whichever screen is primary. Stored at once, then followed as a change;
    /// when the board moved to another screen, the stored calibration was made
    /// on a picture that is no longer the board, so a calibration starts on it.
    void chooseBoardScreen(const std::string& choice);
    /// Where the outputs are read from (tests list their own).
    void setScreenSource(std::function<std::vector<ScreenRecord>()> source) { screenSource_ = std::move(source); }

    // CalibrationHost, and the tray square for the pen tracker attachment
    void storeCalibrationTexts(const CalibrationTexts& texts) override;
    void setTrayColors(TColor color, TColor fontColor) override;
    void calibrationCompleted() override;


private:
    void buildMenu();
    /// The device layer's wake-ups and plug events reach the controller.
    void watchDevices(MainThreadWaker& waker);

    // MainWindowShell
    bool hasCalibrationWindow() const override { return calibrationForm_ != nullptr; }
    bool calibrationUnderWay() const override;
    void raiseCalibration() override;
    void runCalibration() override;
    void closeCalibration() override;
    void placeCalibration(const DesktopScreen& board) override;
    void endCalibration() override;
    void showAboutBox() override;
    void quit() override;
    void paintTray(TColor color, TColor fontColor) override;
    void showNotice(const std::string& text) override;
    void showBoardScreenMenu(const std::vector<DesktopScreen>& screens, const std::string& choice) override;
    void startWatchdogTimer(std::chrono::milliseconds delay) override { gerisayim.start(delay); }
    void stopWatchdogTimer() override { gerisayim.stop(); }
    std::vector<ScreenRecord> screens() const override { return screenSource_(); }
    std::pair<int, int> primaryScreenSizePx() const override;
    void setCalibrationTexts(const CalibrationTexts& texts) override;
    std::string boardScreenChoice() const override;
    void setBoardScreenChoice(const std::string& choice) override;
    void saveCalibrationTexts(bool save) override;
    void persistTexts() override { FormStorage1.PersistState(); }
    void saveAtEnd() override;
    void saveAtSessionEnd() override;
    std::string settingsPlace() const override
    {
        return "the settings folder ($XDG_CONFIG_HOME/oruDriver, else ~/.config/oruDriver)";
    }
    void removeTray() override;
    void unwatchDevices() override;

    MainWindowController controller_;
    MainThreadWaker& waker_;
    QSocketNotifier* deviceNotifier_ = nullptr;
    QSocketNotifier* wakeNotifier_ = nullptr;
    TcalibrationForm* calibrationForm_ = nullptr;
    TForm1* aboutBox_ = nullptr;
    std::function<std::vector<ScreenRecord>()> screenSource_;
    ScreenWatcher* screenWatcher_ = nullptr;
};

} // namespace oru
