#include "app/MainWindowController.h"

#include "app/CalibrationChoice.h"
#include "app/StoredCalibration.h"
#include "common/HandlerErrors.h"
#include "device/HidDevice.h"
#include "device/HidDeviceController.h"
#include "device/PenTrackerAttachment.h"
#include "platform/HidSystem.h"
#include "platform/PointerOutput.h"

#include <algorithm>
#include <cstdio>

namespace oru {

namespace {

// How soon the release watchdog looks again when the pen's next report waits
// unread in the device: a held-up reader needs a few milliseconds.
constexpr std::chrono::milliseconds kReaderCatchUp{5};

} // namespace

PenTime MainWindowController::steadyNow()
{
    return std::chrono::duration_cast<PenTime>(std::chrono::steady_clock::now().time_since_epoch());
}

MainWindowController::MainWindowController(TMainFormState& state, PointerOutput& pointer, MainWindowShell& shell,
                                           Clock now)
    : state_(state), pointer_(pointer), shell_(shell), now_(std::move(now)), pipeline_(state, pointer, now_())
{
}

MainWindowController::~MainWindowController()
{
    detachDevices();
}

THidDeviceController& MainWindowController::attachDevices(HidSystem& hid, MainThreadWaker& waker)
{
    hid_ = &hid;
    devices_ = std::make_unique<THidDeviceController>(hid, waker);
    attachment_ = std::make_unique<PenTrackerAttachment>(
        state_.PenDevice, *devices_, THidDataEvent::bind<&MainWindowController::ShowRead>(*this), *this);
    attachment_->setOnNoAccess([this](const THidDevice&) { tellNoAccess(); });
    attachment_->setOnUserNotice([this](const std::string& text) { shell_.showNotice(text); });
    devices_->setOnDeviceChange(attachment_->deviceChangeHandler());
    devices_->Loaded();
    return *devices_;
}

void MainWindowController::detachDevices()
{
    attachment_.reset();
    devices_.reset();
    state_.PenDevice = nullptr;
}

void MainWindowController::created()
{
    state_.PenDevice = nullptr;
    state_.ReportBuffer.fill(0);
    // The definition bound this handler already: binding it again changes nothing.
    if (devices_) devices_->setOnDeviceChange(attachment_->deviceChangeHandler());
    state_.InsetRatio = kInsetRatio;
    state_.Warper = TWarper{};
    // The release watchdog's timer, running from now on. The pipeline keeps
    // the watchdog's due time, which every handled report moves on; the timer
    // only wakes the main thread at that time, so a report costs it nothing.
    shell_.startWatchdogTimer(kReleaseWatchdogInterval);
}

void MainWindowController::reportStorageError(const std::exception& error)
{
    // A box at an unattended end waits for a press that never comes, and the
    // session (or whoever sent the signal) waits for the process.
    if (!endingUnattended_) {
        reportHandlerError(error);
        return;
    }
    std::fprintf(stderr,
                 "oruDriver: the settings were not saved at the end (%s); a calibration made in this run is lost. "
                 "Make %s writable for this user, then calibrate again.\n",
                 error.what(), shell_.settingsPlace().c_str());
}

void MainWindowController::tellNoAccess()
{
    if (hid_) shell_.showNotice(hid_->advice().noAccessNotice());
}

void MainWindowController::firstShow()
{
    // The board's screen: the stored choice, else the primary one.
    shown_ = true;
    followBoardScreen(shell_.screens());
    const auto& board = boardFollower_.board();
    const auto [widthPx, heightPx] = board ? std::pair{board->geometry.widthPx, board->geometry.heightPx}
                                           : shell_.primaryScreenSizePx();
    const ChosenCalibration chosen = chooseCalibration(shell_.calibrationTexts(), loadMachineCalibration_);
    if (chosen.source == CalibrationSource::Machine) {
        shell_.setCalibrationTexts(chosen.texts);
        usesMachineCalibration_ = true;
        shell_.saveCalibrationTexts(false);
    }
    if (applyStoredCalibration(state_, chosen.texts, widthPx, heightPx) == FirstShowOutcome::NeedsCalibration) {
        Kalibre1Click();
        showTrayState(TrayState::CalibrationNeeded);
    }
}

void MainWindowController::Kalibre1Click()
{
    // Once "Çıkış" has begun the end goes on: a "Kalibre" that was waiting in
    // the event queue (a command taken just before) must not hold it up.
    if (!shell_.hasCalibrationWindow() || shutDown_) return;
    // One calibration at a time: a second "Kalibre" while the window is up
    // would start a run inside the running one.
    if (shell_.calibrationUnderWay()) {
        shell_.raiseCalibration();
        return;
    }
    // A change of the board's screen cancels a run under way; it starts again
    // on the new screen.
    do {
        restartCalibration_ = false;
        state_.Calibrating = 1;
        shell_.runCalibration();
        if (restartCalibration_ && !shutDown_) {
            // Fitted for the new size meanwhile: an ESC on the new run leaves
            // the stored calibration mapping as it should.
            try {
                const auto& board = boardFollower_.board();
                if (board) {
                    applyStoredCalibration(state_, shell_.calibrationTexts(), board->geometry.widthPx,
                                           board->geometry.heightPx);
                }
            } catch (const std::exception&) {
                // Said on stderr at the change; the new run replaces it.
            }
        }
    } while (restartCalibration_ && !shutDown_);
}

void MainWindowController::Hakknda1Click()
{
    shell_.showAboutBox();
}

void MainWindowController::k1Click()
{
    shutdown();
    shell_.endCalibration();
    shell_.quit();
}

void MainWindowController::shutdown()
{
    if (shutDown_) return;
    shutDown_ = true;
    // Never leave the desktop with a mouse button held down.
    pipeline_.releaseHeldButton();
    shell_.stopWatchdogTimer();
}

void MainWindowController::sessionLeft()
{
    pipeline_.releaseHeldButton();
}

void MainWindowController::end()
{
    shutdown();
    shell_.saveAtEnd();
    // The device layer's last colour change finds no tray to paint.
    shell_.removeTray();
    // Stops the pen tracker's reader; PenDevice is gone with it.
    shell_.unwatchDevices();
    detachDevices();
}

void MainWindowController::sessionEnding()
{
    setEndingUnattended();
    shell_.saveAtSessionEnd();
}

void MainWindowController::watchdogTimer()
{
    // A timer's turn comes only once no other work waits, as a timer message
    // does: reports already read and waiting for this thread are handled
    // first, so a main thread held up by a busy machine doesn't take its own
    // delay for a pen gone quiet and let go of a button the pen still holds.
    if (devices_) devices_->handoff().runPending();
    const PenTime now = now_();
    // The pen's next report waits in the device, unread: the pen has not gone
    // quiet, this process was held up and its reader hasn't caught up yet.
    // The release waits for it a moment, as long again at most.
    if (pipeline_.watchdogDue() <= now && now < pipeline_.watchdogDue() + kReleaseWatchdogInterval &&
        state_.PenDevice && state_.PenDevice->reportWaiting()) {
        shell_.startWatchdogTimer(kReaderCatchUp);
        return;
    }
    pipeline_.tick(now);
    armWatchdog(now);
}

void MainWindowController::armWatchdog(PenTime now)
{
    // Rounded up: a timer that fires a little early finds the tick not yet
    // due and is set again for the rest.
    const auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(pipeline_.watchdogDue() - now);
    shell_.startWatchdogTimer(std::max(untilDue, std::chrono::milliseconds{0}));
}

void MainWindowController::ShowRead(THidDevice& /*HidDev*/, std::uint8_t /*ReportID*/, const std::uint8_t* Data,
                                    std::uint16_t Size)
{
    pipeline_.ShowRead(Data, Size, now_());
}

void MainWindowController::screensChanged(const std::vector<ScreenRecord>& outputs)
{
    if (!shown_) return;  // the first show takes the first look
    followBoardScreen(outputs);
}

void MainWindowController::chooseBoardScreen(const std::string& choice)
{
    shell_.setBoardScreenChoice(choice);
    // Saved at once, like a finished calibration.
    guarded([this] { shell_.persistTexts(); });
    if (shown_ && followBoardScreen(shell_.screens())) Kalibre1Click();
}

bool MainWindowController::followBoardScreen(const std::vector<ScreenRecord>& outputs)
{
    screens_ = collapseMirrors(outputs);
    const std::string choice = shell_.boardScreenChoice();
    const BoardScreenFollower::Update update = boardFollower_.update(screens_, choice);
    shell_.showBoardScreenMenu(screens_, choice);
    if (update.after) shell_.placeCalibration(*update.after);

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
    if (update.tellChosenMissing) {
        shell_.showNotice("Seçilen tahta ekranı (" + choice + ") bağlı değil; birincil ekran kullanılıyor.");
    }
    return !update.first && update.boardChanged;
}

std::string MainWindowController::refitForBoard(const BoardScreenFollower::Update& update)
{
    // Nothing stays held across the change: the press was made on the old mapping.
    if (shell_.calibrationUnderWay()) {
        // As if ESC was pressed; Kalibre1Click starts the new run once this one has ended.
        pipeline_.releaseHeldButton();
        state_.CalCancelled = 1;
        restartCalibration_ = true;
        shell_.closeCalibration();
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
        if (refitForScreen(pipeline_, state_, shell_.calibrationTexts(), widthPx, heightPx) ==
            FirstShowOutcome::Fitted) {
            return "stored calibration refitted for " + size;
        }
        return "no calibration stored, the pen stays off until one is made with \"Kalibre\" (screen size " + size + ")";
    } catch (const std::exception& error) {
        return "the stored calibration could not be refitted for " + size + " (" + error.what() +
               "); calibrate again with \"Kalibre\" in the tray menu";
    }
}

void MainWindowController::storeCalibrationTexts(const CalibrationTexts& texts)
{
    if (usesMachineCalibration_) {
        // The user's own calibration from now on, saved as theirs.
        usesMachineCalibration_ = false;
        shell_.saveCalibrationTexts(true);
    }
    shell_.setCalibrationTexts(texts);
}

void MainWindowController::setTrayColors(TColor color, TColor fontColor)
{
    shell_.paintTray(color, fontColor);
}

void MainWindowController::calibrationCompleted()
{
    // Saved at once, not only at the end: a classroom PC is often switched
    // off at the wall.
    guarded([this] { shell_.persistTexts(); });
}

} // namespace oru
