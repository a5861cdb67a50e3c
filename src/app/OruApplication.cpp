#include "app/OruApplication.h"

#include "app/HandlerErrors.h"

namespace oru {

OruApplication::OruApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("oruDriver"));
    setApplicationDisplayName(QStringLiteral("oruDriver"));
    // The driver lives in the tray: closing the about box or the calibration
    // window must not end it.
    setQuitOnLastWindowClosed(false);
}

bool OruApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace oru
