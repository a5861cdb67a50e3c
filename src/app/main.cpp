// Program entry: the one place that picks the platform backends.

#include "app/Form1.h"
#include "app/MainForm.h"
#include "app/OruApplication.h"
#include "common/CommandLine.h"
#include "calibration/CalibrationForm.h"
#include "platform/NullPointerOutput.h"
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/LinuxHidSystem.h"
#include "platform/linux/QuitSignalPipe.h"
#include "platform/linux/SingleInstanceLock.h"
#include "platform/linux/StartChecks.h"
#include "platform/linux/XTestPointerOutput.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QScreen>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <unistd.h>

using namespace oru;

namespace {

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::unique_ptr<PointerOutput> makePointerOutput()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        try {
            QScreen* screen = QGuiApplication::primaryScreen();
            const qreal ratio = screen->devicePixelRatio();
            return std::make_unique<XTestPointerOutput>(nullptr, qRound(screen->geometry().x() * ratio),
                                                        qRound(screen->geometry().y() * ratio));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "oruDriver: %s; the pen will not move the pointer\n", error.what());
        }
    } else {
        std::fprintf(stderr, "oruDriver: platform '%s' has no pointer injection; the pen will not move the pointer\n",
                     qPrintable(QGuiApplication::platformName()));
    }
    return std::make_unique<NullPointerOutput>();
}

} // namespace

int main(int argc, char** argv)
{
    const ProgramDescription program{
        "oru-driver", "", 0,
        "Drives the desktop's mouse from the Oru whiteboard's USB pen tracker: the pen is\n"
        "mapped onto the screen through a four-point calibration kept per user, the tip\n"
        "presses the left button, the side button the right. Runs as a tray icon (right\n"
        "click: \"Kalibre\", \"Hakkında\", \"Çıkış\") in an X11 session; one instance per user.\n"
        "Needs read access to the tracker (udev rule 70-oru-pen-tracker.rules).",
        {}};
    if (const auto parsed = parseCommandLine(argc, argv, program, std::cout, std::cerr); parsed.exitStatus) {
        std::cout.flush();
        return *parsed.exitStatus;
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
    const int quitFd = installQuitSignalPipe();

    // A second instance ends at once, silently, before it touches anything.
    SingleInstanceLock instanceLock("oruDriver");
    switch (instanceLock.state()) {
    case SingleInstanceLock::State::HeldByAnother:
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
            std::fprintf(stderr, "oruDriver: the single-instance lock is '%s' instead\n", instanceLock.path().c_str());
        }
        break;
    }

    OruApplication app(argc, argv);
    const auto pointer = makePointerOutput();

    FileRegistryStore store(FileRegistryStore::userStoreDirectory());

    LinuxHidSystem hid;
    EventFdWaker waker;

    auto mainForm = std::make_unique<TMainForm>(TMainForm::Services{*pointer, store, hid, waker});
    auto calibrationForm = std::make_unique<TcalibrationForm>(mainForm->state, *mainForm);
    auto aboutBox = std::make_unique<TForm1>();
    mainForm->setWindows(calibrationForm.get(), aboutBox.get());
    TMainForm* const form = mainForm.get();

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
    return status;
}
