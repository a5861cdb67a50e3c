#include "qtui/QtProgram.h"

#include "app/DriverProgram.h"
#include "common/HandlerErrors.h"
#include "platform/NullPointerOutput.h"
#include "platform/linux/LinuxMachineCalibration.h"
#include "platform/linux/PointerBackendChoice.h"
#include "platform/linux/QuitSignalPipe.h"
#include "platform/linux/SingleInstanceLock.h"
#include "platform/linux/StartChecks.h"
#include "platform/linux/UinputPointerOutput.h"
#include "platform/linux/XTestPointerOutput.h"
#include "qtui/DriverBusService.h"
#include "qtui/LeftHandedWatcher.h"
#include "qtui/MainForm.h"
#include "qtui/OruApplication.h"
#include "qtui/TextTrayIcon.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace oru {

namespace {

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// --calibrate while this user's driver holds the lock: handed to it. When it
// ended meanwhile, this start becomes the one that calibrates, from the beginning.
int handCalibrateOn(int argc, char** argv)
{
    // Nothing to end in order here: a quit signal ends the waiting command.
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) std::signal(signalNumber, SIG_DFL);
    int status = 0;
    {
        QCoreApplication client(argc, argv);
        status = sendDriverCommand(DriverCommand::Calibrate);
    }
    if (status != kStartCalibratingDriver) return status;
    ::execv("/proc/self/exe", argv);
    std::fprintf(stderr, "oruDriver: cannot start again (%s)\n", std::strerror(errno));
    return kExitNoAnswer;
}

} // namespace

ProgramDescription linuxDriverProgram()
{
    return driverProgramDescription(
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
}

std::optional<int> answerOrStart(int argc, char** argv, const ParsedCommandLine& parsed,
                                 const MachineCalibration& machine, std::optional<SingleInstanceLock>& instanceLock,
                                 int& quitFd)
{
    // An administrator's command: no display, no instance lock, and root is expected.
    if (parsed.has("--save-for-all-users")) return machine.saveForAllUsers();
    // Reaches the running driver over the session bus: no display, no lock.
    if (parsed.has("--quit")) {
        QCoreApplication client(argc, argv);
        return sendDriverCommand(DriverCommand::Quit);
    }
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
    quitFd = installQuitSignalPipe();

    // A second instance ends at once, silently, before it touches anything;
    // with --calibrate it hands the command to the running one.
    SingleInstanceLock& lock = instanceLock.emplace("oruDriver");
    switch (lock.state()) {
    case SingleInstanceLock::State::HeldByAnother:
        if (parsed.has("--calibrate")) return handCalibrateOn(argc, argv);
        return 0;
    case SingleInstanceLock::State::NoPlace:
        for (const auto& problem : lock.problems()) std::fprintf(stderr, "oruDriver: %s\n", problem.c_str());
        std::fprintf(stderr, "oruDriver: no place for the single-instance lock works; not starting, since a second "
                             "instance could run beside this one. Set XDG_RUNTIME_DIR to a folder of this user with "
                             "mode 0700, or make the cache folder (~/.cache) writable.\n");
        return 1;
    case SingleInstanceLock::State::Acquired:
        for (const auto& problem : lock.problems()) std::fprintf(stderr, "oruDriver: %s\n", problem.c_str());
        if (!lock.problems().empty()) {
            std::fprintf(stderr, "oruDriver: the single-instance lock is '%s'\n", lock.path().c_str());
        }
        break;
    }
    return std::nullopt;
}

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
            const std::string compositor =
                waylandCompositorName(environmentValue("XDG_RUNTIME_DIR"), environmentValue("WAYLAND_DISPLAY"));
            auto pointer = UinputPointerOutput::open("/dev/uinput", pointerSpanOf(compositor));
            new LeftHandedWatcher(*pointer, qApp);
            return pointer;
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

QtSession::QtSession(OruApplication& app, TMainForm& form, SingleInstanceLock& lock, int quitFd, bool calibrate,
                     bool uinputRefused)
    : form_(form), quitFd_(quitFd), busService_(new DriverBusService(form))
{
    TMainForm* const window = &form;
    if (uinputRefused) {
        // Once the loop runs and the tray icon is up; stderr has the details.
        QTimer::singleShot(0, window, [window] {
            if (!window->TrayIcon1) return;
            window->TrayIcon1->ShowBalloonHint(
                QStringLiteral("oruDriver"),
                QStringLiteral("Kalem fare imlecini süremiyor: sanal giriş aygıtı /dev/uinput açılamadı. "
                               "Yöneticinize %1 udev kuralını ve uinput modülünü kurdurun, sonra sürücüyü "
                               "yeniden başlatın.")
                    .arg(QString::fromLatin1(kUinputUdevRule)));
        });
    }

    // "Kalibre" and "Çıkış" for desktops without a tray host.
    if (!busService_->publish()) lock.note(kNoSessionBusNote);
    if (calibrate) {
        // After the first show, which may have started a calibration already.
        QMetaObject::invokeMethod(
            window, [window] { guarded([window] { window->Kalibre1Click(); }); }, Qt::QueuedConnection);
    }
    QTimer::singleShot(kTrayHostGraceMs, window, [] {
        if (!QSystemTrayIcon::isSystemTrayAvailable()) tellCommandsWithoutTray();
    });

    // A signal ends the run as "Çıkış" does, but nobody may be at the screen
    // to answer a message box: the end's errors go to stderr.
    if (quitFd >= 0) {
        quitNotifier_ = std::make_unique<QSocketNotifier>(quitFd, QSocketNotifier::Read);
        QObject::connect(quitNotifier_.get(), &QSocketNotifier::activated, [quitFd, window] {
            drainQuitSignalPipe(quitFd);
            endAtOnceOnQuitSignal();
            window->setEndingUnattended();
            window->k1Click();
        });
    }
    // Log-off: the session manager asks before it ends the process.
    sessionConnection_ = QObject::connect(&app, &QGuiApplication::commitDataRequest, window,
                                          [window](QSessionManager&) { window->sessionEnding(); });
}

QtSession::~QtSession() = default;

void QtSession::end()
{
    // Nothing below may reach the windows through the event loop while they
    // go, and a quit signal from now on ends the process at once.
    QObject::disconnect(sessionConnection_);
    busService_->withdraw();
    quitNotifier_.reset();
    if (quitFd_ >= 0 && drainQuitSignalPipe(quitFd_) != 0) {
        // A signal came while the loop was ending: it is this end's first.
        form_.setEndingUnattended();
    }
    endAtOnceOnQuitSignal();
}

int leaveProgram(int status)
{
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

} // namespace oru
