// oru-wayland-probe: a full-screen window on every output of a Wayland
// compositor, logging where the compositor puts the pointer, one line each
// on stdout, in desktop pixels (the output's origin plus the window-local
// position, since a Wayland client is never told global positions):
//
//   screen NAME X Y W H              at start, one per output
//   mapped NAME                      its window's first paint
//   motion NAME X Y
//   press|release left|right|other NAME X Y
#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>

#include <cstdio>

namespace {

class ProbeWindow : public QWidget {
public:
    explicit ProbeWindow(QScreen* screen) : screen_(screen)
    {
        setMouseTracking(true);
        setWindowTitle("oru-probe-" + screen->name());
    }

protected:
    void mouseMoveEvent(QMouseEvent* event) override { log("motion", event); }
    void mousePressEvent(QMouseEvent* event) override { log(button("press", event), event); }
    void mouseReleaseEvent(QMouseEvent* event) override { log(button("release", event), event); }
    void enterEvent(QEnterEvent* event) override { log("motion", event); }
    void paintEvent(QPaintEvent*) override
    {
        if (painted_) return;
        painted_ = true;
        std::printf("mapped %s\n", qPrintable(screen_->name()));
        std::fflush(stdout);
    }

private:
    static QByteArray button(const char* what, const QMouseEvent* event)
    {
        const Qt::MouseButton b = event->button();
        return QByteArray(what) + (b == Qt::LeftButton ? " left" : b == Qt::RightButton ? " right" : " other");
    }
    void log(const QByteArray& what, const QSinglePointEvent* event)
    {
        const QPointF at = screen_->geometry().topLeft() + event->position();
        std::printf("%s %s %.2f %.2f\n", what.constData(), qPrintable(screen_->name()), at.x(), at.y());
        std::fflush(stdout);
    }
    QScreen* screen_;
    bool painted_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        std::printf("screen %s %d %d %d %d\n", qPrintable(screen->name()), g.x(), g.y(), g.width(), g.height());
        auto* window = new ProbeWindow(screen);
        window->setScreen(screen);
        window->setGeometry(g);
        window->showFullScreen();
    }
    std::fflush(stdout);
    return app.exec();
}
