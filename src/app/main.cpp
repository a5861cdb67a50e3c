// Program entry: the one place that picks the platform backends.

#include "app/Form1.h"
#include "app/MainForm.h"
#include "app/OruApplication.h"
#include "calibration/CalibrationForm.h"
#include "platform/NullPointerOutput.h"
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/LinuxHidSystem.h"
#include "platform/linux/QuitSignalPipe.h"
#include "platform/linux/SingleInstanceLock.h"
#include "platform/linux/XTestPointerOutput.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QScreen>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>

using namespace oru;

namespace {

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
    // A second instance ends at once, silently, before it touches anything.
    SingleInstanceLock instanceLock("oruDriver");
    if (!instanceLock.acquired()) return 0;

    OruApplication app(argc, argv);
    const auto pointer = makePointerOutput();

    FileRegistryStore store(FileRegistryStore::userStoreDirectory());

    LinuxHidSystem hid;
    EventFdWaker waker;

    auto mainForm = std::make_unique<TMainForm>(TMainForm::Services{*pointer, store, hid, waker});
    auto calibrationForm = std::make_unique<TcalibrationForm>(mainForm->state, *mainForm);
    auto aboutBox = std::make_unique<TForm1>();
    mainForm->setWindows(calibrationForm.get(), aboutBox.get());

    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (const int quitFd = installQuitSignalPipe(); quitFd >= 0) {
        quitNotifier = std::make_unique<QSocketNotifier>(quitFd, QSocketNotifier::Read);
        QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, [&, quitFd] {
            drainQuitSignalPipe(quitFd);
            mainForm->k1Click();
        });
    }

    // Log-off: the session manager asks before it ends the process.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, mainForm.get(),
                     [&](QSessionManager&) { mainForm->sessionEnding(); });

    const int status = app.exec();

    // Reverse order of creation: the main window goes last and saves.
    mainForm->shutdown();
    aboutBox.reset();
    calibrationForm.reset();
    mainForm.reset();
    return status;
}
