#include "app/MainForm.h"

#include "app/CalibrationChoice.h"
#include "app/Form1.h"
#include "app/ScreenWatcher.h"
#include "app/StoredCalibration.h"
#include "calibration/CalibrationForm.h"
#include "common/HandlerErrors.h"
#include "device/HidDeviceController.h"
#include "device/PenTrackerAttachment.h"
#include "platform/MainThreadWaker.h"
#include "tray/BoardScreenMenu.h"
#include "tray/TextTrayIcon.h"
#include "tray/TrayIcon1Config.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace oru {

namespace {

// How soon the release watchdog looks again when the pen's next report waits
// unread in the device: a held-up reader needs a few milliseconds.
constexpr std::chrono::milliseconds kReaderCatchUp{5};

// The pen pipeline's clock: the steady clock, which no clock setting moves.
PenTime steadyNow()
{
    return std::chrono::duration_cast<PenTime>(std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

TMainForm::TMainForm(const Services& services, QWidget* parent)
    : QWidget(parent),
      AppRegistryStorage1(services.store),
      FormStorage1(this, &AppRegistryStorage1, [this](const std::exception& error) { reportStorageError(error); }),
      pipeline_(state, services.pointer, steadyNow()),
      waker_(services.waker),
      pointer_(services.pointer),
      screenSource_(&ScreenWatcher::currentScreens)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("oru USB Driver"));
    resize(139, 147);

    // The show runs once the event loop starts, after the other windows exist
    // and before the first device scan that the controller posts.
    QMetaObject::invokeMethod(this, [this] { firstShow(); }, Qt::QueuedConnection);

    for (int i = 0; i < 8; ++i) Edits[i] = new TEdit(QStringLiteral("Edit%1").arg(i + 1), this);
    BoardScreen = new TEdit(QStringLiteral("BoardScreen"), this);
    BoardScreen->setText(QString());

    // The calibration texts live in the user's store between runs.
    AppRegistryStorage1.setRoot(TCustomAppStorage::kNoRoot);
    // The key the machine's calibration is kept under too.
    FormStorage1.setAppStoragePath(std::string(kCalibrationKey) + "\\");
    FormStorage1.Options = {fpLocation};
    FormStorage1.setStoredProps({QStringLiteral("Edit1.Text"), QStringLiteral("Edit2.Text"),
                                 QStringLiteral("Edit3.Text"), QStringLiteral("Edit4.Text"),
                                 QStringLiteral("Edit5.Text"), QStringLiteral("Edit6.Text"),
                                 QStringLiteral("Edit7.Text"), QStringLiteral("Edit8.Text"),
                                 QStringLiteral("BoardScreen.Text")});
    FormStorage1.loaded();
    buildMenu();
    TrayIcon1 = new TTextTrayIcon(this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    configureTrayIcon1(*TrayIcon1, PopupMenu1);

    // Projectors come and go, resolutions change: the board's screen is
    // followed while the driver runs.
    screenWatcher_ = new ScreenWatcher(this);
    screenWatcher_->setOnChange([this] { guarded([this] { screensChanged(screenSource_()); }); });

    // The release watchdog's timer, running from now on. The pipeline keeps
    // the watchdog's due time, which every handled report moves on; the timer
    // only wakes this thread at that time, so a report costs it nothing.
    gerisayim.setObjectName(QStringLiteral("gerisayim"));
    gerisayim.setTimerType(Qt::PreciseTimer);
    connect(&gerisayim, &QTimer::timeout, this, [this] { guarded([this] { gerisayimTimer(); }); });
    gerisayim.start(kReleaseWatchdogInterval);

    createDeviceController(services);
    FormCreate();
}

void TMainForm::createDeviceController(const Services& services)
{
    HidDeviceController = std::make_unique<THidDeviceController>(services.hid, services.waker);
    attachment_ = std::make_unique<PenTrackerAttachment>(
        state.PenDevice, *HidDeviceController, THidDataEvent::bind<&TMainForm::ShowRead>(*this), *this);
    attachment_->setOnNoAccess([this](const THidDevice&) { tellNoAccess(); });
    attachment_->setOnUserNotice([this](const std::string& text) {
        TrayIcon1->ShowBalloonHint(QStringLiteral("oruDriver"), QString::fromStdString(text));
    });
    HidDeviceController->setOnDeviceChange(attachment_->deviceChangeHandler());

    // Reports and the posted first scan arrive through the waker; plug and
    // unplug through the device monitor.
    wakeNotifier_ = new QSocketNotifier(services.waker.fd(), QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] {
        waker_.consume();
        guarded([this] { HidDeviceController->runPending(); });
    });
    HidDeviceController->Loaded();
    if (const int fd = HidDeviceController->DeviceNotificationFd(); fd >= 0) {
        deviceNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(deviceNotifier_, &QSocketNotifier::activated, this,
                [this] { guarded([this] { HidDeviceController->DeviceNotificationReady(); }); });
    }
}

void TMainForm::tellNoAccess()
{
    TrayIcon1->ShowBalloonHint(
        QStringLiteral("oruDriver"),
        QStringLiteral("Kalem izleyici bulundu ama okunamıyor. Yöneticinize %1 udev kuralını kurdurun, "
                       "sonra izleyiciyi çıkarıp yeniden takın.")
            .arg(QString::fromLatin1(kPenTrackerUdevRule)));
}

TMainForm::~TMainForm()
{
    shutdown();
    // Saves the texts while Edit1..Edit8 still exist.
    FormStorage1.destroyHook([this] { FormDestroy(); });
    delete TrayIcon1;
    TrayIcon1 = nullptr;
    // Stops the pen tracker's reader; PenDevice is gone with it.
    delete deviceNotifier_;
    delete wakeNotifier_;
    attachment_.reset();
    HidDeviceController.reset();
    state.PenDevice = nullptr;
}

void TMainForm::FormDestroy()
{
    // Nothing of the window's own: the storage's destroy hook has saved by now.
}

void TMainForm::reportStorageError(const std::exception& error)
{
    // A box at an unattended end waits for a press that never comes, and the
    // session (or whoever sent the signal) waits for the process.
    if (!endingUnattended_) {
        reportHandlerError(error);
        return;
    }
    std::fprintf(stderr,
                 "oruDriver: the settings were not saved at the end (%s); a calibration made in this run is lost. "
                 "Make the settings folder ($XDG_CONFIG_HOME/oruDriver, else ~/.config/oruDriver) writable for "
                 "this user, then calibrate again.\n",
                 error.what());
}

void TMainForm::sessionEnding()
{
    setEndingUnattended();
    bool canClose = true;
    FormStorage1.closeQueryHook(canClose);
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
    state.PenDevice = nullptr;
    state.ReportBuffer.fill(0);
    // The definition bound this handler already: binding it again changes nothing.
    HidDeviceController->setOnDeviceChange(attachment_->deviceChangeHandler());
    state.InsetRatio = kInsetRatio;
    state.Warper = TWarper{};
}

void TMainForm::firstShow()
{
    FormStorage1.showHook([this] { guarded([this] { FormShow(); }); });
}

void TMainForm::FormShow()
{
    // Kept off-screen; the window is never mapped anyway.
    move(5000, 5000);
    // The board's screen: the stored choice, else the primary one.
    shown_ = true;
    followBoardScreen(screenSource_());
    QScreen* screen = QGuiApplication::primaryScreen();
    const auto& board = boardFollower_.board();
    const int widthPx = board ? board->geometry.widthPx : qRound(screen->geometry().width() * screen->devicePixelRatio());
    const int heightPx =
        board ? board->geometry.heightPx : qRound(screen->geometry().height() * screen->devicePixelRatio());
    const ChosenCalibration chosen = chooseCalibration(calibrationTexts(), loadMachineCalibration_);
    if (chosen.source == CalibrationSource::Machine) {
        for (int i = 0; i < 8; ++i) Edits[i]->setText(QString::fromStdString(chosen.texts[i]));
        usesMachineCalibration_ = true;
        saveCalibrationTexts(false);
    }
    if (applyStoredCalibration(state, chosen.texts, widthPx, heightPx) == FirstShowOutcome::NeedsCalibration) {
        Kalibre1Click();
        setTrayColors(clBlue, clWhite);
    }
}

void TMainForm::Kalibre1Click()
{
    if (!calibrationForm_) return;
    // One calibration at a time: a second "Kalibre" while the window is up
    // would start a run inside the running one.
    if (calibrationForm_->isVisible() || calibrationForm_->running()) {
        calibrationForm_->raise();
        calibrationForm_->activateWindow();
        return;
    }
    // A change of the board's screen cancels a run under way; it starts again
    // on the new screen.
    do {
        restartCalibration_ = false;
        state.Calibrating = 1;
        calibrationForm_->exec();
        QCoreApplication::processEvents();
        if (restartCalibration_ && !shutDown_) {
            // Fitted for the new size meanwhile: an ESC on the new run leaves
            // the stored calibration mapping as it should.
            try {
                const auto& board = boardFollower_.board();
                if (board) {
                    applyStoredCalibration(state, calibrationTexts(), board->geometry.widthPx,
                                           board->geometry.heightPx);
                }
            } catch (const std::exception&) {
                // Said on stderr at the change; the new run replaces it.
            }
        }
    } while (restartCalibration_ && !shutDown_);
}

void TMainForm::screensChanged(const std::vector<ScreenRecord>& outputs)
{
    if (!shown_) return;  // the first show takes the first look
    followBoardScreen(outputs);
}

void TMainForm::chooseBoardScreen(const std::string& choice)
{
    BoardScreen->setText(QString::fromStdString(choice));
    // Saved at once, like a finished calibration.
    guarded([this] { FormStorage1.PersistState(); });
    if (shown_ && followBoardScreen(screenSource_())) Kalibre1Click();
}

bool TMainForm::followBoardScreen(const std::vector<ScreenRecord>& outputs)
{
    screens_ = collapseMirrors(outputs);
    const std::string choice = BoardScreen->text().toStdString();
    const BoardScreenFollower::Update update = boardFollower_.update(screens_, choice);
    rebuildBoardScreenMenu();
    if (update.after && calibrationForm_) calibrationForm_->setBoardScreen(*update.after);

    std::string action;
    if (!update.first && update.boardChanged) action = refitForBoard(update);
    if (update.layoutChanged || update.boardChanged) {
        try {
            pointer_.followScreens(screenAreas(screens_), update.boardIndex);
        } catch (const std::exception& error) {
            action += std::string(action.empty() ? "" : "; ") + "the pointer could not follow the new screens (" +
                      error.what() + ")";
            if (update.first || !update.boardChanged) std::fprintf(stderr, "oruDriver: %s\n", action.c_str());
        }
    }
    if (update.first) {
        if (const std::string line = storedChoiceLine(update, choice); !line.empty()) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    } else if (update.boardChanged) {
        std::fprintf(stderr, "%s\n", boardChangeLine(update, choice, action).c_str());
    }
    if (update.tellChosenMissing && TrayIcon1) {
        TrayIcon1->ShowBalloonHint(QStringLiteral("oruDriver"),
                                   QStringLiteral("Seçilen tahta ekranı (%1) bağlı değil; birincil ekran kullanılıyor.")
                                       .arg(QString::fromStdString(choice)));
    }
    return !update.first && update.boardChanged;
}

std::string TMainForm::refitForBoard(const BoardScreenFollower::Update& update)
{
    // Nothing stays held across the change: the press was made on the old mapping.
    if (calibrationForm_ && (calibrationForm_->isVisible() || calibrationForm_->running())) {
        // As if ESC was pressed; Kalibre1Click starts the new run once this one has ended.
        pipeline_.releaseHeldButton();
        state.CalCancelled = 1;
        restartCalibration_ = true;
        calibrationForm_->requestClose();
        return "the calibration under way was cancelled and starts again on the new screen";
    }
    if (!update.after) {
        pipeline_.releaseHeldButton();
        return "no screen left; the pen maps as before until one comes back";
    }
    const int widthPx = update.after->geometry.widthPx;
    const int heightPx = update.after->geometry.heightPx;
    const std::string size = std::to_string(widthPx) + "x" + std::to_string(heightPx);
    try {
        if (refitForScreen(pipeline_, state, calibrationTexts(), widthPx, heightPx) == FirstShowOutcome::Fitted) {
            return "stored calibration refitted for " + size;
        }
        return "no calibration stored, the pen stays off until one is made with \"Kalibre\" (screen size " + size + ")";
    } catch (const std::exception& error) {
        return "the stored calibration could not be refitted for " + size + " (" + error.what() +
               "); calibrate again with \"Kalibre\" in the tray menu";
    }
}

void TMainForm::rebuildBoardScreenMenu()
{
    if (!TahtaEkrani1) return;
    fillBoardScreenMenu(*TahtaEkrani1, screens_, BoardScreen->text().toStdString(),
                        [this](const std::string& choice) { guarded([this, choice] { chooseBoardScreen(choice); }); });
}

void TMainForm::Hakknda1Click()
{
    if (aboutBox_ && !aboutBox_->isVisible()) aboutBox_->exec();
}

void TMainForm::k1Click()
{
    shutdown();
    if (calibrationForm_) calibrationForm_->setQuitRequested();
    QCoreApplication::quit();
}

void TMainForm::gerisayimTimer()
{
    // A timer's turn comes only once no other work waits, as a timer message
    // does: reports already read and waiting for this thread are handled
    // first, so a main thread held up by a busy machine doesn't take its own
    // delay for a pen gone quiet and let go of a button the pen still holds.
    if (HidDeviceController) HidDeviceController->handoff().runPending();
    const PenTime now = steadyNow();
    // The pen's next report waits in the device, unread: the pen has not gone
    // quiet, this process was held up and its reader hasn't caught up yet.
    // The release waits for it a moment, as long again at most.
    if (pipeline_.watchdogDue() <= now && now < pipeline_.watchdogDue() + kReleaseWatchdogInterval &&
        state.PenDevice && state.PenDevice->reportWaiting()) {
        gerisayim.start(kReaderCatchUp);
        return;
    }
    pipeline_.tick(now);
    armWatchdog(now);
}

void TMainForm::armWatchdog(PenTime now)
{
    // Rounded up: a timer that fires a little early finds the tick not yet
    // due and is set again for the rest.
    const auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(pipeline_.watchdogDue() - now);
    gerisayim.start(std::max(untilDue, std::chrono::milliseconds{0}));
}

void TMainForm::ShowRead(THidDevice& /*HidDev*/, std::uint8_t /*ReportID*/, const std::uint8_t* Data,
                         std::uint16_t Size)
{
    pipeline_.ShowRead(Data, Size, steadyNow());
}

void TMainForm::shutdown()
{
    if (shutDown_) return;
    shutDown_ = true;
    // Never leave the desktop with a mouse button held down.
    pipeline_.releaseHeldButton();
    gerisayim.stop();
}

CalibrationTexts TMainForm::calibrationTexts() const
{
    CalibrationTexts texts;
    for (int i = 0; i < 8; ++i) texts[i] = Edits[i]->text().toStdString();
    return texts;
}

void TMainForm::storeCalibrationTexts(const CalibrationTexts& texts)
{
    if (usesMachineCalibration_) {
        // The user's own calibration from now on, saved as theirs.
        usesMachineCalibration_ = false;
        saveCalibrationTexts(true);
    }
    for (int i = 0; i < 8; ++i) Edits[i]->setText(QString::fromStdString(texts[i]));
}

void TMainForm::saveCalibrationTexts(bool save)
{
    QStringList calibrationLines;
    for (int i = 0; i < 8; ++i) calibrationLines.append(QStringLiteral("Edit%1.Text").arg(i + 1));
    QStringList lines = FormStorage1.StoredProps();
    lines.removeIf([&](const QString& line) { return calibrationLines.contains(line, Qt::CaseInsensitive); });
    FormStorage1.setStoredProps(save ? calibrationLines + lines : lines);
    FormStorage1.loaded();
}

void TMainForm::setTrayColors(TColor color, TColor fontColor)
{
    if (!TrayIcon1) return;  // the window's end: the icon goes before the device layer
    TrayIcon1->setColor(color);
    TrayIcon1->Font().setColor(fontColor);
}

void TMainForm::calibrationCompleted()
{
    // Saved at once, not only at the end: a classroom PC is often switched
    // off at the wall.
    guarded([this] { FormStorage1.PersistState(); });
}

} // namespace oru
