#pragma once

#include "qtui/OffsetOptions.h"
#include "common/TColor.h"
#include "qtui/TrayFont.h"
#include "qtui/TrayIcon.h"
#include "tray/TrayIconLayout.h"

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

class QFontMetrics;

namespace oru {

/// A tray icon whose 16 x 16 image is painted from a short text in a font on a
/// square of colour Color, where layoutTrayIcon puts them. Every setter below repaints the image and hands it
/// to the notification area; the font and the offsets repaint when one of
/// their attributes changes to a different value.
class TTextTrayIcon : public TTrayIcon {
    Q_OBJECT

public:
    static constexpr int kIconSizePx = kTrayIconSizePx;

    explicit TTextTrayIcon(QObject* owner = nullptr);

    /// The text; a carriage return (13) starts a new line.
    const QString& Text() const { return text_; }
    void setText(const QString& text);

    /// The font and its colour. Changes made through the reference repaint
    /// only when a value actually changes; setFont copies and always repaints.
    TTrayFont& Font() { return font_; }
    const TTrayFont& Font() const { return font_; }
    void setFont(const TTrayFont& font);

    /// The square's colour; clNone leaves only the text visible. Setting it
    /// repaints every time, also with the value it already has.
    TColor Color() const { return color_; }
    void setColor(TColor color);

    /// A one-pixel frame around the square in BorderColor.
    bool Border() const { return border_; }
    void setBorder(bool border);
    TColor BorderColor() const { return borderColor_; }
    void setBorderColor(TColor color);

    TOffsetOptions& Options() { return options_; }
    const TOffsetOptions& Options() const { return options_; }

    /// An image the text is laid over instead of the square (empty: none).
    const QIcon& BackgroundIcon() const { return backgroundIcon_; }
    void setBackgroundIcon(const QIcon& icon);

    /// Repaints the image from the current properties and shows it.
    void RebuildIcon();

    /// The last painted 16 x 16 text bitmap (opaque, RGB32).
    const QImage& TextBitmap() const { return textBitmap_; }
    /// The last image handed to the notification area (ARGB32, 16 x 16).
    const QImage& IconImage() const { return iconImage_; }
    /// How many times the image has been repainted.
    int RebuildCount() const { return rebuildCount_; }

private:
    /// Where the text, the fill and the border go, measured in the paint font.
    TrayIconLayout layout(const QFontMetrics& metrics) const;
    /// The font without antialiasing.
    QFont paintFont() const;
    /// Paints the layout onto bitmap (16 x 16, RGB32).
    static QImage PaintTextBitmap(QImage bitmap, const QFont& font, const TrayIconLayout& layout);
    QImage overlayOnBackground(const QImage& textBitmap, std::uint32_t fillRgb) const;
    QIcon iconFor(const QImage& image);

    QString text_;
    TTrayFont font_;
    TColor color_ = clBtnFace;
    bool border_ = false;
    TColor borderColor_ = clBlack;
    TOffsetOptions options_;
    QIcon backgroundIcon_;

    QImage textBitmap_;
    QImage iconImage_;
    int rebuildCount_ = 0;
    static constexpr std::size_t kIconCacheSize = 8;
    std::vector<std::pair<QImage, QIcon>> iconCache_;
};

} // namespace oru
