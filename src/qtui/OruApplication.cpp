#include "qtui/OruApplication.h"

#include "common/HandlerErrors.h"

#include <QMessageBox>

namespace oru {

OruApplication::OruApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("oruDriver"));
    setApplicationDisplayName(QStringLiteral("oruDriver"));
    // The driver lives in the tray: closing the about box or the calibration
    // window must not end it.
    setQuitOnLastWindowClosed(false);
    setHandlerErrorReporter([](const std::string& text) {
        QMessageBox::critical(nullptr, QStringLiteral("oruDriver"), QString::fromStdString(text));
    });
}

bool OruApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace oru
