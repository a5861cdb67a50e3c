#include "qtui/FormPlacement.h"

#include "common/FloatMath.h"

#include <QGuiApplication>
#include <QScreen>

namespace oru {

namespace {

PlacementRect placementRect(const QRect& rect)
{
    return {rect.x(), rect.y(), rect.x() + rect.width(), rect.y() + rect.height()};
}

} // namespace

ScreenMetrics QtPlacementWindow::primaryScreenMetrics()
{
    ScreenMetrics metrics;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return metrics;
    // Qt reports device-independent pixels; the stored size is the screen's own.
    const long double ratio = screen->devicePixelRatio();
    metrics.widthPx = roundHalfEven(static_cast<long double>(screen->geometry().width()) * ratio);
    metrics.heightPx = roundHalfEven(static_cast<long double>(screen->geometry().height()) * ratio);
    metrics.pixelsPerInch = roundHalfEven(static_cast<long double>(screen->logicalDotsPerInch()));
    return metrics;
}

PlacementRect QtPlacementWindow::frame() const
{
    return placementRect(owner_->frameGeometry());
}

PlacementRect QtPlacementWindow::normalFrame() const
{
    // Placement values describe the window in its normal (restored) state.
    if ((owner_->isMinimized() || owner_->isMaximized()) && owner_->normalGeometry().isValid()) {
        return placementRect(owner_->normalGeometry());
    }
    return frame();
}

} // namespace oru
