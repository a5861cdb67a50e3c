#include "qtui/CalibrationForm.h"

#include "common/HandlerErrors.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace oru {

namespace {

QScreen* primaryScreen()
{
    return QGuiApplication::primaryScreen();
}

// A Wayland client can't place its windows; only a full-screen request on an
// output puts one over a whole screen. ("wayland", "wayland-egl", ...)
bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

TcalibrationForm::TcalibrationForm(TMainFormState& state, CalibrationHost& host, QWidget* parent)
    : QDialog(parent), state_(state), procedure_(state, *this, host), close_([this] {
          if (isVisible()) reject();
      })
{
    setObjectName(QStringLiteral("calibrationForm"));
    setWindowTitle(QStringLiteral("CalibrationForm"));
    // Frameless and sized to the screen by hand on X11: without a window
    // manager a full-screen request alone leaves a small window. On Wayland
    // the compositor sizes it (FormShow).
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setCursor(Qt::BlankCursor);
    setAutoFillBackground(true);

    Label1 = new QLabel(QStringLiteral("Kalibre işlemini iptal etmek için ESC tuşuna basın"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont labelFont(QStringLiteral("Calibri"));
    labelFont.setPixelSize(19);
    Label1->setFont(labelFont);
    Label1->move(8, 8);
    Label1->adjustSize();

    target1 = new QLabel(this);
    target1->setObjectName(QStringLiteral("target1"));
    target1->setPixmap(crosshair(QColor(255, 0, 0)));
    target1->resize(kTargetImagePx, kTargetImagePx);
    target1->hide();
    target2 = new QLabel(this);
    target2->setObjectName(QStringLiteral("target2"));
    target2->setPixmap(crosshair(QColor(0, 6, 255)));
    target2->resize(kTargetImagePx, kTargetImagePx);
    target2->hide();
    target2->raise();

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setSingleShot(true);
    Timer1.setInterval(500);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

QPixmap TcalibrationForm::crosshair(const QColor& color)
{
    QPixmap image(kTargetImagePx, kTargetImagePx);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const int centre = kTargetImagePx / 2;
    // Two-pixel lines covering pixels centre-1 and centre: they cross at (36, 36).
    painter.drawRect(0, centre - 1, kTargetImagePx, kCrosshairLinePx);
    painter.drawRect(centre - 1, 0, kCrosshairLinePx, kTargetImagePx);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(color, kCrosshairLinePx));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawEllipse(QPointF(centre, centre), kCrosshairCirclePx / 2, kCrosshairCirclePx / 2);
    return image;
}

QScreen* TcalibrationForm::boardQScreen() const
{
    if (board_) {
        for (QScreen* screen : QGuiApplication::screens()) {
            if (board_->answersTo(screen->name().toStdString())) return screen;
        }
    }
    return primaryScreen();
}

double TcalibrationForm::boardPixelRatio() const
{
    return board_ ? board_->geometry.pixelRatio : primaryScreen()->devicePixelRatio();
}

int TcalibrationForm::screenWidthPx() const
{
    if (board_) return board_->geometry.widthPx;
    QScreen* screen = primaryScreen();
    return qRound(screen->geometry().width() * screen->devicePixelRatio());
}

int TcalibrationForm::screenHeightPx() const
{
    if (board_) return board_->geometry.heightPx;
    QScreen* screen = primaryScreen();
    return qRound(screen->geometry().height() * screen->devicePixelRatio());
}

void TcalibrationForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    guarded([this] { FormShow(); });
}

void TcalibrationForm::FormShow()
{
    // The show event comes before the window is mapped: the screen, geometry
    // and state set here go with the map request.
    QScreen* const screen = boardQScreen();
    if (QWindow* window = windowHandle()) window->setScreen(screen);
    // Full screen asked of the window manager (EWMH _NET_WM_STATE_FULLSCREEN)
    // or the compositor: a plain window is kept below a desktop's panels, and
    // a Wayland client can't place its windows at all. Platforms without
    // either (Qt's offscreen one) make full screen their primary screen.
    if (onWayland() || QGuiApplication::platformName() == QLatin1String("xcb")) {
        setWindowState(windowState() | Qt::WindowFullScreen);
    }
    if (!onWayland()) {
        // And placed over the board screen by hand: without a window manager
        // the full-screen request alone leaves a small window, and a window
        // manager makes full screen on the screen the window is on.
        if (board_) {
            const ScreenArea area = logicalArea(board_->geometry);
            setGeometry(area.xLogical, area.yLogical, area.widthLogical, area.heightLogical);
        } else {
            setGeometry(screen->geometry());
        }
    }
    raise();
    activateWindow();
    close_.shown();
    procedure_.prepareShow();
    shownTarget_.reset();
    target1->hide();
    target2->hide();
    sinceShow_.start();
    Timer1.start();
}

void TcalibrationForm::keyPressEvent(QKeyEvent* event)
{
    // Every key stops here: the dialog's own ESC handling would close the
    // window in the middle of a run.
    guarded([&] { FormKeyPress(event->key()); });
    event->accept();
}

void TcalibrationForm::FormKeyPress(int key)
{
    if (key != Qt::Key_Escape) return;
    close_.cancel(state_);
}

void TcalibrationForm::Timer1Timer()
{
    Timer1.stop();
    bool misplaced = false;
    close_.run([&] { guarded([&] { misplaced = !procedure_.runWhereShown(); }); });
    // Said once the window is gone: a message box under a full-screen window
    // on top would not be seen.
    if (misplaced) reportHandlerError(ECalibrationWindowMisplaced());
}

bool TcalibrationForm::runEndsAtOnce() const
{
    return !isVisible() || close_.closeRequested() || quitRequested_;
}

std::string TcalibrationForm::placementText() const
{
    const QRect window(mapToGlobal(QPoint(0, 0)), size());
    const QPoint origin = boardOrigin();
    char text[160];
    std::snprintf(text, sizeof text, "window %dx%d%+d%+d, screen %dx%d px with its top left at %+d%+d",
                  window.width(), window.height(), window.x(), window.y(), screenWidthPx(), screenHeightPx(),
                  origin.x(), origin.y());
    return text;
}

std::string TcalibrationForm::placementAdvice() const
{
    return "The window manager did not put it there: allow full-screen windows over the panels in its settings "
           "and calibrate again.";
}

bool TcalibrationForm::overTargets()
{
    // The window manager places the window after the map request (reparents,
    // applies full screen, configures, maps the frame): exposed and over every
    // target, or the time is up.
    QTimer deadline;  // wakes the wait below when nothing else comes
    deadline.setSingleShot(true);
    const auto placed = [this] {
        const QWindow* window = windowHandle();
        return window && window->isExposed() && coversTargets();
    };
    while (!placed()) {
        const qint64 left = kPlacementWaitMs - sinceShow_.elapsed();
        if (left <= 0 || close_.closeRequested() || quitRequested_ || state_.CalCancelled != 0 || !isVisible()) {
            return false;
        }
        deadline.start(static_cast<int>(left));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QPoint TcalibrationForm::boardOrigin() const
{
    if (board_) {
        const ScreenArea area = logicalArea(board_->geometry);
        return {area.xLogical, area.yLogical};
    }
    return primaryScreen()->geometry().topLeft();
}

QPoint TcalibrationForm::targetOnDesktop(TPoint targetPx) const
{
    // Target points are physical pixels of the board screen; the desktop's
    // coordinates are Qt's scaled ones.
    const qreal ratio = boardPixelRatio();
    return boardOrigin() + QPoint(qRound(targetPx.x / ratio), qRound(targetPx.y / ratio));
}

bool TcalibrationForm::coversTargets() const
{
    const QRect inside = rect();
    return std::all_of(state_.TargetPoints.begin(), state_.TargetPoints.end(),
                       [&](TPoint target) { return inside.contains(mapFromGlobal(targetOnDesktop(target))); });
}

void TcalibrationForm::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    placeTargets();
}

void TcalibrationForm::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    placeTargets();
}

void TcalibrationForm::pump()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TcalibrationForm::waitAndPump()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TcalibrationForm::showTargets(TPoint targetPx, bool redVisible, bool blueVisible)
{
    shownTarget_ = targetPx;
    placeTargets();
    target1->setVisible(redVisible);
    target2->setVisible(blueVisible);
}

void TcalibrationForm::placeTargets()
{
    // Where the target's screen point is in the window as the window system
    // mapped it: a window manager may have kept the window off the screen's
    // top left (below a panel).
    if (!shownTarget_) return;
    const QPoint crossing = mapFromGlobal(targetOnDesktop(*shownTarget_));
    const QPoint topLeft = crossing - QPoint(kTargetImagePx / 2, kTargetImagePx / 2);
    target1->move(topLeft);
    target2->move(topLeft);
}

void TcalibrationForm::requestClose()
{
    close_.request();
}

} // namespace oru
