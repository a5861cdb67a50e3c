#pragma once

#include "display/DesktopScreens.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

class QScreen;

namespace oru {

/// Watches Qt's screens: added, removed, a new primary, a screen's geometry.
/// One change of the display (a projector plugged, a mode set with xrandr)
/// comes as a burst of such signals; they are gathered into one look at the
/// screens, on the next turn of the event loop.
class ScreenWatcher : public QObject {
    Q_OBJECT

public:
    explicit ScreenWatcher(QObject* parent = nullptr);

    /// Called once per burst of screen signals.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    /// The outputs as Qt lists them now, in device pixels.
    static std::vector<ScreenRecord> currentScreens();

private:
    void watch(QScreen* screen);
    void schedule();

    QTimer pending_;
    std::function<void()> onChange_;
};

} // namespace oru
