#pragma once

#include "app/EditField.h"
#include "app/MainFormState.h"
#include "calibration/CalibrationProcedure.h"
#include "pen/PenPipeline.h"
#include "pen/RestartableTimer.h"
#include "settings/AppRegistryStorage.h"
#include "settings/FormStorage.h"

#include <QTimer>
#include <QWidget>

#include <array>

class QAction;
class QMenu;

namespace oru {

class PointerOutput;
class RegistryStore;
class TTextTrayIcon;
class TcalibrationForm;
class TForm1;

/// The main window. Never mapped on screen: it owns the tray icon and its
/// menu, the release watchdog, the eight stored calibration texts and all
/// run-time state of the driver.
class TMainForm : public QWidget, public CalibrationHost {
    Q_OBJECT

public:
    /// pointer: where the pen's mouse goes; store: the per-user settings store.
    TMainForm(PointerOutput& pointer, RegistryStore& store, QWidget* parent = nullptr);
    ~TMainForm() override;

    /// The other two windows, created after this one.
    void setWindows(TcalibrationForm* calibrationForm, TForm1* aboutBox);

    TMainFormState state;
    std::array<TEdit*, 8> Edits{};  // Edit1..Edit8
    TTextTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Kalibre1 = nullptr;
    QAction* Hakknda1 = nullptr;
    QAction* N1 = nullptr;
    QAction* k1 = nullptr;
    QTimer gerisayim;
    TAppRegistryStorage AppRegistryStorage1;
    TFormStorage FormStorage1;

    void FormCreate();
    /// The one show of the window: restore stored texts, then FormShow.
    void firstShow();
    void FormShow();
    void FormDestroy();
    /// The desktop session is ending: save now, the process may not get to
    /// its regular end.
    void sessionEnding();
    void Kalibre1Click();
    void Hakknda1Click();
    void k1Click();
    void gerisayimTimer();
    /// Report handler of the pen tracker: one input report's data bytes.
    void ShowRead(const std::uint8_t* data, std::uint16_t size);

    /// Orderly end: a button the pen still holds is released first.
    void shutdown();

    /// Texts of Edit1..Edit8.
    CalibrationTexts calibrationTexts() const;

    // CalibrationHost
    void storeCalibrationTexts(const CalibrationTexts& texts) override;
    void setTrayColors(std::uint32_t colorBgr, std::uint32_t fontColorBgr) override;
    void calibrationCompleted() override;


private:
    class WatchdogRestarter final : public RestartableTimer {
    public:
        explicit WatchdogRestarter(QTimer& timer) : timer_(timer) {}
        void restart() override { timer_.start(); }

    private:
        QTimer& timer_;
    };

    void buildMenu();

    WatchdogRestarter watchdogRestarter_;
    PenPipeline pipeline_;
    TcalibrationForm* calibrationForm_ = nullptr;
    TForm1* aboutBox_ = nullptr;
    bool shutDown_ = false;
};

} // namespace oru
