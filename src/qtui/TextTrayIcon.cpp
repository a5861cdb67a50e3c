#include "qtui/TextTrayIcon.h"

#include "qtui/QtColor.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>

namespace oru {

namespace {

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

TrayIconLayout TTextTrayIcon::layout(const QFontMetrics& metrics) const
{
    const TrayIconLook look{text_.toStdString(), color_,    font_.Color(),       border_, borderColor_,
                            options_.OffsetX(),  options_.OffsetY(), options_.LineDistance()};
    const TrayTextMeasurer measure{
        [&](const std::string& line) { return metrics.horizontalAdvance(QString::fromStdString(line)); },
        metrics.height(), &ColorToRGB};
    return layoutTrayIcon(look, measure);
}

QFont TTextTrayIcon::paintFont() const
{
    // Pure font and fill pixels only: the transparent colour of clNone and of
    // the background overlay is matched exactly, which blended edges would spoil.
    QFont font = font_.qFont();
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::NoAntialias));
    return font;
}

void TTextTrayIcon::RebuildIcon()
{
    QImage bitmap(kIconSizePx, kIconSizePx, QImage::Format_RGB32);
    const QFont font = paintFont();
    const TrayIconLayout layout = this->layout(QFontMetrics(font, &bitmap));
    textBitmap_ = PaintTextBitmap(bitmap, font, layout);
    if (backgroundIcon_.isNull()) {
        // With clNone the fill colour becomes transparent and only the text is
        // left; any other colour keeps the square fully opaque.
        iconImage_ = maskedIcon(textBitmap_, layout.transparentRgb.value_or(0), layout.transparentRgb.has_value());
    } else {
        iconImage_ = overlayOnBackground(textBitmap_, layout.fillRgb);
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

QImage TTextTrayIcon::PaintTextBitmap(QImage bitmap, const QFont& font, const TrayIconLayout& layout)
{
    const QColor fill = toQColor(static_cast<TColor>(layout.fillRgb));
    bitmap.fill(fill);
    QPainter painter(&bitmap);
    painter.setFont(font);
    painter.setPen(toQColor(static_cast<TColor>(layout.fontRgb)));
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(fill);
    // A line's origin is the top-left of its text cell; Qt draws at the baseline.
    const int ascent = QFontMetrics(font, &bitmap).ascent();
    for (const auto& line : layout.lines) {
        painter.drawText(QPoint(line.x, line.y + ascent), QString::fromStdString(line.text));
    }
    const QColor frame = toQColor(static_cast<TColor>(layout.borderRgb));
    for (const TrayRect& rect : layout.border) painter.fillRect(rect.x, rect.y, rect.width, rect.height, frame);
    return bitmap;
}

QImage TTextTrayIcon::overlayOnBackground(const QImage& textBitmap, std::uint32_t fillRgb) const
{
    // The background image goes onto a square of the fill colour, the text
    // (every pixel not of the fill colour) over it, and what is still of the
    // fill colour becomes transparent: the background shows where it is
    // opaque, the text everywhere.
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
