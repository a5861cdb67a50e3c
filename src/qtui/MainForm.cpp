#include "qtui/MainForm.h"

#include "app/CalibrationChoice.h"
#include "qtui/Form1.h"
#include "qtui/ScreenWatcher.h"
#include "qtui/CalibrationForm.h"
#include "common/HandlerErrors.h"
#include "device/HidDeviceController.h"
#include "device/PenTrackerAttachment.h"
#include "platform/MainThreadWaker.h"
#include "qtui/BoardScreenMenu.h"
#include "qtui/TextTrayIcon.h"
#include "qtui/TrayIcon1Config.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSocketNotifier>

namespace oru {

TMainForm::TMainForm(const Services& services, QWidget* parent)
    : QWidget(parent),
      AppRegistryStorage1(services.store),
      FormStorage1(placementWindow_, &AppRegistryStorage1,
                   [this](const std::exception& error) { controller_.reportStorageError(error); },
                   &QtPlacementWindow::primaryScreenMetrics),
      controller_(state, services.pointer, *this),
      waker_(services.waker),
      screenSource_(&ScreenWatcher::currentScreens)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("oru USB Driver"));
    resize(139, 147);

    // The show runs once the event loop starts, after the other windows exist
    // and before the first device scan that the controller posts.
    QMetaObject::invokeMethod(this, [this] { firstShow(); }, Qt::QueuedConnection);

    for (int i = 0; i < 8; ++i) Edits[i] = new TEdit(QString::fromStdString(calibrationEditName(i)), this);
    BoardScreen = new TEdit(QStringLiteral("BoardScreen"), this);
    BoardScreen->setText(QString());

    // The calibration texts live in the user's store between runs.
    AppRegistryStorage1.setRoot(TCustomAppStorage::kNoRoot);
    // The key the machine's calibration is kept under too.
    FormStorage1.setAppStoragePath(std::string(kCalibrationKey) + "\\");
    FormStorage1.Options = {fpLocation};
    for (TEdit* edit : Edits) {
        FormStorage1.addText(
            edit->objectName().toStdString(), [edit] { return edit->text().toStdString(); },
            [edit](const std::string& text) { edit->setText(QString::fromStdString(text)); });
    }
    FormStorage1.addText(
        "BoardScreen", [this] { return BoardScreen->text().toStdString(); },
        [this](const std::string& text) { BoardScreen->setText(QString::fromStdString(text)); });
    buildMenu();
    TrayIcon1 = new TTextTrayIcon(this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    configureTrayIcon1(*TrayIcon1, PopupMenu1);

    // Projectors come and go, resolutions change: the board's screen is
    // followed while the driver runs.
    screenWatcher_ = new ScreenWatcher(this);
    screenWatcher_->setOnChange([this] { guarded([this] { screensChanged(screenSource_()); }); });

    // The release watchdog's timer; the controller starts it.
    gerisayim.setObjectName(QStringLiteral("gerisayim"));
    gerisayim.setTimerType(Qt::PreciseTimer);
    connect(&gerisayim, &QTimer::timeout, this, [this] { guarded([this] { gerisayimTimer(); }); });

    HidDeviceController = &controller_.attachDevices(services.hid, services.waker);
    watchDevices(services.waker);
    FormCreate();
}

void TMainForm::watchDevices(MainThreadWaker& waker)
{
    // Reports and the posted first scan arrive through the waker; plug and
    // unplug through the device monitor.
    wakeNotifier_ = new QSocketNotifier(waker.fd(), QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] {
        waker_.consume();
        guarded([this] { HidDeviceController->runPending(); });
    });
    if (const int fd = HidDeviceController->DeviceNotificationFd(); fd >= 0) {
        deviceNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(deviceNotifier_, &QSocketNotifier::activated, this,
                [this] { guarded([this] { HidDeviceController->DeviceNotificationReady(); }); });
    }
}

TMainForm::~TMainForm()
{
    // Edit1..Edit8 still exist here, so the texts can be saved.
    controller_.end();
    HidDeviceController = nullptr;
}

void TMainForm::saveAtEnd()
{
    FormStorage1.destroyHook([this] { FormDestroy(); });
}

void TMainForm::saveAtSessionEnd()
{
    bool canClose = true;
    FormStorage1.closeQueryHook(canClose);
}

void TMainForm::removeTray()
{
    delete TrayIcon1;
    TrayIcon1 = nullptr;
}

void TMainForm::unwatchDevices()
{
    delete deviceNotifier_;
    deviceNotifier_ = nullptr;
    delete wakeNotifier_;
    wakeNotifier_ = nullptr;
}

void TMainForm::FormDestroy()
{
    // Nothing of the window's own: the storage's destroy hook has saved by now.
}

void TMainForm::sessionEnding()
{
    controller_.sessionEnding();
}

void TMainForm::buildMenu()
{
    const PopupMenu1Items menu = createPopupMenu1(this);
    PopupMenu1 = menu.PopupMenu1;
    Kalibre1 = menu.Kalibre1;
    TahtaEkrani1 = menu.TahtaEkrani1;
    Hakknda1 = menu.Hakknda1;
    N1 = menu.N1;
    k1 = menu.k1;
    connect(Kalibre1, &QAction::triggered, this, [this] { guarded([this] { Kalibre1Click(); }); });
    connect(Hakknda1, &QAction::triggered, this, [this] { guarded([this] { Hakknda1Click(); }); });
    connect(k1, &QAction::triggered, this, [this] { guarded([this] { k1Click(); }); });
}

void TMainForm::setWindows(TcalibrationForm* calibrationForm, TForm1* aboutBox)
{
    calibrationForm_ = calibrationForm;
    aboutBox_ = aboutBox;
}

void TMainForm::FormCreate()
{
    controller_.created();
}

void TMainForm::firstShow()
{
    FormStorage1.showHook([this] { guarded([this] { FormShow(); }); });
}

void TMainForm::FormShow()
{
    // Kept off-screen; the window is never mapped anyway.
    move(5000, 5000);
    controller_.firstShow();
}

void TMainForm::Kalibre1Click()
{
    controller_.Kalibre1Click();
}

void TMainForm::screensChanged(const std::vector<ScreenRecord>& outputs)
{
    controller_.screensChanged(outputs);
}

void TMainForm::chooseBoardScreen(const std::string& choice)
{
    controller_.chooseBoardScreen(choice);
}

void TMainForm::Hakknda1Click()
{
    controller_.Hakknda1Click();
}

void TMainForm::k1Click()
{
    controller_.k1Click();
}

void TMainForm::gerisayimTimer()
{
    controller_.watchdogTimer();
}

void TMainForm::ShowRead(THidDevice& HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)
{
    controller_.ShowRead(HidDev, ReportID, Data, Size);
}

void TMainForm::shutdown()
{
    controller_.shutdown();
}

void TMainForm::storeCalibrationTexts(const CalibrationTexts& texts)
{
    controller_.storeCalibrationTexts(texts);
}

void TMainForm::setTrayColors(TColor color, TColor fontColor)
{
    controller_.setTrayColors(color, fontColor);
}

void TMainForm::calibrationCompleted()
{
    controller_.calibrationCompleted();
}

// MainWindowShell: what the controller asks of the Qt windows.

bool TMainForm::calibrationUnderWay() const
{
    return calibrationForm_ && (calibrationForm_->isVisible() || calibrationForm_->running());
}

void TMainForm::raiseCalibration()
{
    calibrationForm_->raise();
    calibrationForm_->activateWindow();
}

void TMainForm::runCalibration()
{
    calibrationForm_->exec();
    QCoreApplication::processEvents();
}

void TMainForm::closeCalibration()
{
    calibrationForm_->requestClose();
}

void TMainForm::placeCalibration(const DesktopScreen& board)
{
    if (calibrationForm_) calibrationForm_->setBoardScreen(board);
}

void TMainForm::endCalibration()
{
    if (calibrationForm_) calibrationForm_->setQuitRequested();
}

void TMainForm::showAboutBox()
{
    if (aboutBox_ && !aboutBox_->isVisible()) aboutBox_->exec();
}

void TMainForm::quit()
{
    QCoreApplication::quit();
}

void TMainForm::paintTray(TColor color, TColor fontColor)
{
    if (!TrayIcon1) return;  // the window's end: the icon goes before the device layer
    TrayIcon1->setColor(color);
    TrayIcon1->Font().setColor(fontColor);
}

void TMainForm::showNotice(const std::string& text)
{
    if (TrayIcon1) TrayIcon1->ShowBalloonHint(QStringLiteral("oruDriver"), QString::fromStdString(text));
}

void TMainForm::showBoardScreenMenu(const std::vector<DesktopScreen>& screens, const std::string& choice)
{
    if (!TahtaEkrani1) return;
    fillBoardScreenMenu(*TahtaEkrani1, screens, choice,
                        [this](const std::string& chosen) { guarded([this, chosen] { chooseBoardScreen(chosen); }); });
}

std::pair<int, int> TMainForm::primaryScreenSizePx() const
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return {qRound(screen->geometry().width() * screen->devicePixelRatio()),
            qRound(screen->geometry().height() * screen->devicePixelRatio())};
}

CalibrationTexts TMainForm::calibrationTexts() const
{
    CalibrationTexts texts;
    for (int i = 0; i < 8; ++i) texts[i] = Edits[i]->text().toStdString();
    return texts;
}

void TMainForm::setCalibrationTexts(const CalibrationTexts& texts)
{
    for (int i = 0; i < 8; ++i) Edits[i]->setText(QString::fromStdString(texts[i]));
}

std::string TMainForm::boardScreenChoice() const
{
    return BoardScreen->text().toStdString();
}

void TMainForm::setBoardScreenChoice(const std::string& choice)
{
    BoardScreen->setText(QString::fromStdString(choice));
}

void TMainForm::saveCalibrationTexts(bool save)
{
    for (int i = 0; i < 8; ++i) FormStorage1.setStored(calibrationEditName(i), save);
}

} // namespace oru
