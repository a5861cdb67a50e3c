#include "qtui/QtColor.h"

#include <QGuiApplication>
#include <QPalette>

namespace oru {

namespace {

QPalette::ColorRole paletteRoleOf(TColor systemColor)
{
    switch (systemColor & 0xFF) {
    case clWindow & 0xFF:
        return QPalette::Base;
    case clWindowText & 0xFF:
        return QPalette::Text;
    case clHighlight & 0xFF:
        return QPalette::Highlight;
    case clHighlightText & 0xFF:
        return QPalette::HighlightedText;
    case clBtnFace & 0xFF:
        return QPalette::Button;
    case clBtnText & 0xFF:
        return QPalette::ButtonText;
    default:
        return QPalette::Window;
    }
}

} // namespace

std::uint32_t ColorToRGB(TColor color)
{
    if (!isSystemColor(color))
        return static_cast<std::uint32_t>(color);
    return static_cast<std::uint32_t>(fromQColor(QGuiApplication::palette().color(paletteRoleOf(color))));
}

QColor toQColor(TColor color)
{
    const std::uint32_t rgb = ColorToRGB(color);
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>((rgb >> 16) & 0xFF));
}

TColor fromQColor(const QColor& color)
{
    const QRgb rgb = color.rgb();
    return static_cast<TColor>(qRed(rgb) | (qGreen(rgb) << 8) | (qBlue(rgb) << 16));
}

} // namespace oru
