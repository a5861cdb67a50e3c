#pragma once

#include <QApplication>
#include <QColor>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QTimer>

#include <functional>
#include <ostream>

/// Readable test failures: #RRGGBB and alpha.
inline void PrintTo(const QColor& color, std::ostream* os)
{
    *os << color.name(QColor::HexArgb).toStdString();
}

namespace oru::test {

/// The one QApplication of a tray test program, made on first use so that
/// listing the tests needs no display.
inline QApplication& trayTestApp()
{
    static int argc = 1;
    static char name[] = "oru-tray-test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

/// Runs the event loop until pred() holds or timeoutMs have passed.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!pred()) {
        if (elapsed.elapsed() > timeoutMs)
            return pred();
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

/// The glyph pixels of one line of text as the tray paints it, drawn with its
/// cell's top-left at (margin, margin) of a transparent image.
struct TextStamp {
    static constexpr int kMarginPx = 32;
    QImage ink;

    TextStamp(const QFont& font, const QString& line)
        : ink(kMarginPx * 3, kMarginPx * 3, QImage::Format_ARGB32)
    {
        ink.fill(Qt::transparent);
        QFont mono = font;
        mono.setStyleStrategy(QFont::NoAntialias);
        QPainter painter(&ink);
        painter.setFont(mono);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(kMarginPx, kMarginPx + QFontMetrics(mono, &ink).ascent()), line);
    }

    /// Whether the line, with its cell's top-left at (x, y), covers pixel (px, py).
    bool covers(int x, int y, int px, int py) const
    {
        const int sx = px - x + kMarginPx;
        const int sy = py - y + kMarginPx;
        if (sx < 0 || sy < 0 || sx >= ink.width() || sy >= ink.height())
            return false;
        return qAlpha(ink.pixel(sx, sy)) != 0;
    }
};

} // namespace oru::test
