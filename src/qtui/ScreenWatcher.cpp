#include "qtui/ScreenWatcher.h"

#include <QGuiApplication>
#include <QScreen>

namespace oru {

ScreenWatcher::ScreenWatcher(QObject* parent) : QObject(parent)
{
    // Zero delay: the look runs once the signals of this burst are all
    // delivered, and a screen Qt removes is out of its list by then.
    pending_.setSingleShot(true);
    pending_.setInterval(0);
    connect(&pending_, &QTimer::timeout, this, [this] {
        if (onChange_) onChange_();
    });
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        schedule();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { schedule(); });
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] { schedule(); });
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
}

void ScreenWatcher::watch(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, [this] { schedule(); });
}

void ScreenWatcher::schedule()
{
    if (!pending_.isActive()) pending_.start();
}

std::vector<ScreenRecord> ScreenWatcher::currentScreens()
{
    std::vector<ScreenRecord> records;
    QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        records.push_back({screen->name().toStdString(), qRound(g.x() * ratio), qRound(g.y() * ratio),
                           qRound(g.width() * ratio), qRound(g.height() * ratio), screen == primary, ratio,
                           qRound(screen->physicalSize().width())});
    }
    return records;
}

} // namespace oru
