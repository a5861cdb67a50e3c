#include "tray/TextTrayIcon.h"

#include "tray/QtColor.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QStringList>

namespace oru {

namespace {

constexpr QChar kCarriageReturn = QChar(13);

QImage maskedIcon(const QImage& bitmap, std::uint32_t transparentRgb, bool anyTransparent)
{
    QImage icon = bitmap.convertToFormat(QImage::Format_ARGB32);
    if (!anyTransparent)
        return icon;
    const QRgb transparent = toQColor(static_cast<TColor>(transparentRgb)).rgb();
    for (int y = 0; y < icon.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(icon.scanLine(y));
        for (int x = 0; x < icon.width(); ++x) {
            if ((row[x] | 0xFF000000u) == transparent)
                row[x] = qRgba(0, 0, 0, 0);
        }
    }
    return icon;
}

} // namespace

TTextTrayIcon::TTextTrayIcon(QObject* owner) : TTrayIcon(owner)
{
    font_.OnChange = [this] { RebuildIcon(); };
    options_.OnChange = [this] { RebuildIcon(); };
}

void TTextTrayIcon::setText(const QString& text)
{
    text_ = text;
    RebuildIcon();
}

void TTextTrayIcon::setFont(const TTrayFont& font)
{
    font_.assignSilently(font);
    RebuildIcon();
}

void TTextTrayIcon::setColor(TColor color)
{
    color_ = color;
    RebuildIcon();
}

void TTextTrayIcon::setBorder(bool border)
{
    border_ = border;
    RebuildIcon();
}

void TTextTrayIcon::setBorderColor(TColor color)
{
    borderColor_ = color;
    RebuildIcon();
}

void TTextTrayIcon::setBackgroundIcon(const QIcon& icon)
{
    backgroundIcon_ = icon;
    RebuildIcon();
}

std::uint32_t TTextTrayIcon::fillColor() const
{
    if (color_ == clNone || color_ == font_.Color())
        return (ColorToRGB(font_.Color()) ^ kRgbMask) & kRgbMask;
    return ColorToRGB(color_);
}

void TTextTrayIcon::RebuildIcon()
{
    textBitmap_ = PaintTextBitmap();
    if (backgroundIcon_.isNull()) {
        // With clNone the fill colour becomes transparent and only the text is
        // left; any other colour keeps the square fully opaque.
        iconImage_ = maskedIcon(textBitmap_, fillColor(), color_ == clNone);
    } else {
        iconImage_ = overlayOnBackground(textBitmap_);
    }
    ++rebuildCount_;
    setIcon(iconFor(iconImage_));
}

QIcon TTextTrayIcon::iconFor(const QImage& image)
{
    // Every device change repaints the square, alternating between a few
    // colours; a fresh pixmap each time would pile up in the tray for as long
    // as the driver runs. Identical images share one icon.
    for (const auto& [cachedImage, icon] : iconCache_) {
        if (cachedImage == image) return icon;
    }
    if (iconCache_.size() >= kIconCacheSize) iconCache_.erase(iconCache_.begin());
    iconCache_.emplace_back(image, QIcon(QPixmap::fromImage(image)));
    return iconCache_.back().second;
}

QImage TTextTrayIcon::PaintTextBitmap() const
{
    QImage bitmap(kIconSizePx, kIconSizePx, QImage::Format_RGB32);
    const QColor fill = toQColor(static_cast<TColor>(fillColor()));
    bitmap.fill(fill);

    // Pure font and fill pixels only: the transparent colour of clNone and of
    // the background overlay is matched exactly, which blended edges would spoil.
    QFont font = font_.qFont();
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::NoAntialias));

    QPainter painter(&bitmap);
    painter.setFont(font);
    painter.setPen(toQColor(font_.Color()));
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(fill);
    const QFontMetrics metrics(font, &bitmap);

    // (x, y) is the top-left of the text cell; Qt draws at the baseline.
    // C++ integer division truncates toward zero, so a text wider than the
    // span starts left of the square and is clipped on both sides.
    const auto drawAt = [&](int x, int y, const QString& line) {
        painter.drawText(QPoint(x, y + metrics.ascent()), line);
    };
    if (!text_.contains(kCarriageReturn)) {
        const int x = (kCentringSpanPx - metrics.horizontalAdvance(text_)) / 2 + options_.OffsetX();
        const int y = (kCentringSpanPx - metrics.height()) / 2 + options_.OffsetY();
        drawAt(x, y, text_);
    } else {
        // A line feed after the carriage return stays at the start of the
        // next line (it has no width in Qt's fonts).
        const QStringList lines = text_.split(kCarriageReturn);
        const int lineHeight = metrics.height() + options_.LineDistance();
        const int top = (kCentringSpanPx - static_cast<int>(lines.size()) * lineHeight) / 2 + options_.OffsetY();
        for (int i = 0; i < lines.size(); ++i) {
            const int x = (kCentringSpanPx - metrics.horizontalAdvance(lines[i])) / 2 + options_.OffsetX();
            drawAt(x, top + i * lineHeight, lines[i]);
        }
    }

    if (border_ && borderColor_ != clNone) {
        const QColor frame = toQColor(borderColor_);
        painter.fillRect(0, 0, kIconSizePx, 1, frame);
        painter.fillRect(0, kIconSizePx - 1, kIconSizePx, 1, frame);
        painter.fillRect(0, 0, 1, kIconSizePx, frame);
        painter.fillRect(kIconSizePx - 1, 0, 1, kIconSizePx, frame);
    }
    return bitmap;
}

QImage TTextTrayIcon::overlayOnBackground(const QImage& textBitmap) const
{
    // The background image goes onto a square of the fill colour, the text
    // (every pixel not of the fill colour) over it, and what is still of the
    // fill colour becomes transparent: the background shows where it is
    // opaque, the text everywhere.
    const std::uint32_t fillRgb = fillColor();
    QImage composed(kIconSizePx, kIconSizePx, QImage::Format_RGB32);
    composed.fill(toQColor(static_cast<TColor>(fillRgb)));
    {
        QPainter painter(&composed);
        backgroundIcon_.paint(&painter, QRect(0, 0, kIconSizePx, kIconSizePx));
        painter.drawImage(0, 0, maskedIcon(textBitmap, fillRgb, true));
    }
    return maskedIcon(composed, fillRgb, true);
}

} // namespace oru
