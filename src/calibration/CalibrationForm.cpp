#include "calibration/CalibrationForm.h"

#include "common/HandlerErrors.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QWindow>

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
    painter.drawRect(0, centre - 1, kTargetImagePx, 2);
    painter.drawRect(centre - 1, 0, 2, kTargetImagePx);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(color, 2));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawEllipse(QPointF(centre, centre), 20, 20);
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
    // The show event comes before the window is mapped: the screen and the
    // state set here go with the map request.
    QScreen* const screen = boardQScreen();
    if (QWindow* window = windowHandle()) window->setScreen(screen);
    if (onWayland()) {
        setWindowState(windowState() | Qt::WindowFullScreen);
    } else if (board_) {
        const ScreenArea area = logicalArea(board_->geometry);
        setGeometry(area.xLogical, area.yLogical, area.widthLogical, area.heightLogical);
    } else {
        setGeometry(screen->geometry());
    }
    raise();
    activateWindow();
    close_.shown();
    procedure_.prepareShow();
    target1->hide();
    target2->hide();
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
    close_.run([this] { guarded([this] { procedure_.run(); }); });
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
    // Target points are physical pixels; the widget works in Qt's scaled ones.
    const qreal ratio = boardPixelRatio();
    const QPoint topLeft(qRound(targetPx.x / ratio) - kTargetImagePx / 2,
                         qRound(targetPx.y / ratio) - kTargetImagePx / 2);
    target1->move(topLeft);
    target2->move(topLeft);
    target1->setVisible(redVisible);
    target2->setVisible(blueVisible);
}

void TcalibrationForm::requestClose()
{
    close_.request();
}

} // namespace oru
