// Program entry: the one place that picks the platform backends.

#include "qtui/DriverBusService.h"
#include "app/DriverProgram.h"
#include "qtui/Form1.h"
#include "platform/linux/MachineCalibration.h"
#include "qtui/MainForm.h"
#include "qtui/OruApplication.h"
#include "common/CommandLine.h"
#include "common/ExtendedPrecision.h"
#include "common/HandlerErrors.h"
#include "qtui/CalibrationForm.h"
#include "platform/NullPointerOutput.h"
#include "platform/linux/DesktopLayout.h"
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/LinuxHidSystem.h"
#include "platform/linux/PointerBackendChoice.h"
#include "platform/linux/QuitSignalPipe.h"
#include "platform/linux/SingleInstanceLock.h"
#include "platform/linux/StartChecks.h"
#include "platform/linux/StandardDescriptors.h"
#include "platform/linux/ThreadScheduling.h"
#include "platform/linux/UinputPointerOutput.h"
#include "platform/linux/XTestPointerOutput.h"
#include "qtui/TextTrayIcon.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace oru;

namespace {

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The pointer placement over Qt's screens; the board is on the primary one.
PointerPlacement placementOverScreens()
{
    std::vector<ScreenArea> areas;
    const auto screens = QGuiApplication::screens();
    std::size_t board = 0;
    for (QScreen* screen : screens) {
        if (screen == QGuiApplication::primaryScreen()) board = areas.size();
        const QRect geometry = screen->geometry();
        areas.push_back({geometry.x(), geometry.y(), geometry.width(), geometry.height(), screen->devicePixelRatio(),
                         qRound(screen->physicalSize().width())});
    }
    return pointerPlacement(areas, board);
}

// Where the pen's mouse goes. Sets uinputRefused when the session needs uinput
// and the kernel or the node's permissions refused it.
std::unique_ptr<PointerOutput> makePointerOutput(const std::string& pointerOption, bool& uinputRefused)
{
    const PointerBackend backend = choosePointerBackend(
        {pointerOption, QGuiApplication::platformName().toStdString(), environmentValue("XDG_SESSION_TYPE"),
         environmentValue("WAYLAND_DISPLAY")});
    switch (backend) {
    case PointerBackend::XTest:
        try {
            QScreen* screen = QGuiApplication::primaryScreen();
            const qreal ratio = screen->devicePixelRatio();
            return std::make_unique<XTestPointerOutput>(nullptr, qRound(screen->geometry().x() * ratio),
                                                        qRound(screen->geometry().y() * ratio));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "oruDriver: %s; the pen will not move the pointer\n", error.what());
        }
        break;
    case PointerBackend::Uinput:
        try {
            const PointerPlacement placement = placementOverScreens();
            if (placement.mixedScales) {
                std::fprintf(stderr, "oruDriver: the screens run at different scale factors; the pen may miss the "
                                     "board's screen. Give all screens the same scale in the display settings\n");
            }
            return UinputPointerOutput::open("/dev/uinput", placement.box, placement.originXPx,
                                             placement.originYPx);
        } catch (const UinputUnavailable& error) {
            std::fprintf(stderr, "oruDriver: %s\n", error.what());
            uinputRefused = true;
        }
        break;
    case PointerBackend::None:
        std::fprintf(stderr, "oruDriver: platform '%s' has no pointer injection; the pen will not move the pointer\n",
                     qPrintable(QGuiApplication::platformName()));
        break;
    }
    return std::make_unique<NullPointerOutput>();
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: a closed 0, 1 or 2 must not become a pipe or file of ours.
    oru::occupyClosedStandardDescriptors();
    useExtendedPrecision();  // before any formula runs on this thread
    const ProgramDescription program = driverProgramDescription(
        "\"Çıkış\") in an X11 or Wayland session; one instance per user. Without a\n"
        "tray (GNOME without the AppIndicator extension) --calibrate and --quit, or the\n"
        "desktop entry's actions, reach the running driver over the session bus.\n"
        "Needs read access to the tracker (udev rule 70-oru-pen-tracker.rules) and, for\n"
        "uinput, write access to /dev/uinput (udev rule 71-oru-uinput.rules).\n"
        "Exit status of --calibrate and --quit: 0 done, 3 no driver runs (--quit),\n"
        "4 no session bus, 5 the driver did not answer or did not end.",
        {{"--pointer", "MODE",
          "xtest or uinput; default: uinput in a Wayland session, else xtest", {"xtest", "uinput"}}},
        "use sudo");
    const auto parsed = parseCommandLine(argc, argv, program, std::cout, std::cerr);
    if (parsed.exitStatus) {
        std::cout.flush();
        return *parsed.exitStatus;
    }
    const std::string pointerOption = parsed.has("--pointer") ? parsed.options.at("--pointer") : "";

    // An administrator's command: no display, no instance lock, and root is expected.
    if (parsed.has("--save-for-all-users")) return saveCalibrationForAllUsers();
    // Reaches the running driver over the session bus: no display, no lock.
    if (parsed.has("--quit")) {
        QCoreApplication client(argc, argv);
        return sendDriverCommand(DriverCommand::Quit);
    }
    const bool calibrateAtStart = parsed.has("--calibrate");

    // Before anything is made: under sudo with a user's HOME every folder and
    // file made now would belong to root.
    if (const auto refusal = rootRunForAnotherUser(::geteuid(), environmentValue("HOME"),
                                                   environmentValue("XDG_CONFIG_HOME"),
                                                   environmentValue("XDG_CACHE_HOME"))) {
        std::fprintf(stderr, "oruDriver: %s\n", refusal->c_str());
        return 1;
    }
    // Qt aborts without a display; say what is missing instead.
    if (const auto refusal = missingGraphicalSession(environmentValue("DISPLAY"), environmentValue("WAYLAND_DISPLAY"),
                                                     environmentValue("QT_QPA_PLATFORM"))) {
        std::fprintf(stderr, "oruDriver: %s\n", refusal->c_str());
        return 1;
    }

    // From here a quit signal is kept until the event loop can end in order.
    const int quitFd = installQuitSignalPipe();

    // A second instance ends at once, silently, before it touches anything;
    // with --calibrate it hands the command to the running one.
    SingleInstanceLock instanceLock("oruDriver");
    switch (instanceLock.state()) {
    case SingleInstanceLock::State::HeldByAnother:
        if (calibrateAtStart) {
            // Nothing to end in order here: a quit signal ends the waiting command.
            for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) std::signal(signalNumber, SIG_DFL);
            int status = 0;
            {
                QCoreApplication client(argc, argv);
                status = sendDriverCommand(DriverCommand::Calibrate);
            }
            if (status != kStartCalibratingDriver) return status;
            // The driver asked ended meanwhile: this start becomes the one
            // that calibrates, as a start from the beginning.
            ::execv("/proc/self/exe", argv);
            std::fprintf(stderr, "oruDriver: cannot start again (%s)\n", std::strerror(errno));
            return kExitNoAnswer;
        }
        return 0;
    case SingleInstanceLock::State::NoPlace:
        for (const auto& problem : instanceLock.problems()) std::fprintf(stderr, "oruDriver: %s\n", problem.c_str());
        std::fprintf(stderr, "oruDriver: no place for the single-instance lock works; not starting, since a second "
                             "instance could run beside this one. Set XDG_RUNTIME_DIR to a folder of this user with "
                             "mode 0700, or make the cache folder (~/.cache) writable.\n");
        return 1;
    case SingleInstanceLock::State::Acquired:
        for (const auto& problem : instanceLock.problems()) std::fprintf(stderr, "oruDriver: %s\n", problem.c_str());
        if (!instanceLock.problems().empty()) {
            std::fprintf(stderr, "oruDriver: the single-instance lock is '%s'\n", instanceLock.path().c_str());
        }
        break;
    }

    // Before any other thread exists: Qt's, and the pen tracker's reader, inherit it.
    requestShortTimeSlices();

    OruApplication app(argc, argv);
    bool uinputRefused = false;
    const auto pointer = makePointerOutput(pointerOption, uinputRefused);

    FileRegistryStore store(FileRegistryStore::userStoreDirectory());

    LinuxHidSystem hid;
    EventFdWaker waker;

    auto mainForm = std::make_unique<TMainForm>(TMainForm::Services{*pointer, store, hid, waker});
    auto calibrationForm = std::make_unique<TcalibrationForm>(mainForm->state, *mainForm);
    auto aboutBox = std::make_unique<TForm1>();
    mainForm->setWindows(calibrationForm.get(), aboutBox.get());
    mainForm->setMachineCalibration([] { return loadMachineCalibration(std::getenv("XDG_CONFIG_DIRS")); });
    TMainForm* const form = mainForm.get();
    if (uinputRefused) {
        // Once the loop runs and the tray icon is up; stderr has the details.
        QTimer::singleShot(0, form, [form] {
            if (!form->TrayIcon1) return;
            form->TrayIcon1->ShowBalloonHint(
                QStringLiteral("oruDriver"),
                QStringLiteral("Kalem fare imlecini süremiyor: sanal giriş aygıtı /dev/uinput açılamadı. "
                               "Yöneticinize %1 udev kuralını ve uinput modülünü kurdurun, sonra sürücüyü "
                               "yeniden başlatın.")
                    .arg(QString::fromLatin1(kUinputUdevRule)));
        });
    }

    // "Kalibre" and "Çıkış" for desktops without a tray host.
    auto* const busService = new DriverBusService(*form);
    if (!busService->publish()) instanceLock.note(kNoSessionBusNote);
    if (calibrateAtStart) {
        // After the first show, which may have started a calibration already.
        QMetaObject::invokeMethod(form, [form] { guarded([form] { form->Kalibre1Click(); }); }, Qt::QueuedConnection);
    }
    QTimer::singleShot(kTrayHostGraceMs, form, [] {
        if (!QSystemTrayIcon::isSystemTrayAvailable()) tellCommandsWithoutTray();
    });

    // A signal ends the run as "Çıkış" does, but nobody may be at the screen
    // to answer a message box: the end's errors go to stderr.
    const auto endBySignal = [form] {
        endAtOnceOnQuitSignal();
        form->setEndingUnattended();
        form->k1Click();
    };
    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (quitFd >= 0) {
        quitNotifier = std::make_unique<QSocketNotifier>(quitFd, QSocketNotifier::Read);
        QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, [quitFd, endBySignal] {
            drainQuitSignalPipe(quitFd);
            endBySignal();
        });
    }

    // Log-off: the session manager asks before it ends the process.
    const auto sessionConnection = QObject::connect(&app, &QGuiApplication::commitDataRequest, form,
                                                    [form](QSessionManager&) { form->sessionEnding(); });

    const int status = app.exec();

    // The end: nothing below may reach the windows through the event loop
    // while they go, and a quit signal from now on ends the process at once.
    QObject::disconnect(sessionConnection);
    busService->withdraw();
    quitNotifier.reset();
    if (quitFd >= 0 && drainQuitSignalPipe(quitFd) != 0) {
        // A signal came while the loop was ending: it is this end's first.
        form->setEndingUnattended();
    }
    endAtOnceOnQuitSignal();

    // Reverse order of creation: the main window goes last and saves.
    mainForm->shutdown();
    aboutBox.reset();
    calibrationForm.reset();
    mainForm.reset();
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // Qt 6.4's Wayland client can deadlock while it takes its connection
        // down (its event thread waits for a read the main thread prepared and
        // never made): the process would linger after the end, holding the
        // single-instance lock, so that the next start of this user ends at
        // once. All is saved and the devices are let go by now; the kernel
        // closes the rest (the uinput device goes with its descriptor).
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
