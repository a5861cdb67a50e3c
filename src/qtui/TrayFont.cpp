#include "qtui/TrayFont.h"

namespace oru {

TTrayFont::TTrayFont() : color_(clWindowText) {}

TTrayFont::TTrayFont(const QFont& font, TColor color) : font_(font), color_(color) {}

TTrayFont::TTrayFont(const TTrayFont& other) : font_(other.font_), color_(other.color_) {}

void TTrayFont::setColor(TColor color)
{
    if (color == color_)
        return;
    color_ = color;
    changed();
}

void TTrayFont::setQFont(const QFont& font)
{
    if (font == font_)
        return;
    font_ = font;
    changed();
}

void TTrayFont::assignSilently(const TTrayFont& other)
{
    font_ = other.font_;
    color_ = other.color_;
}

void TTrayFont::changed()
{
    if (OnChange)
        OnChange();
}

} // namespace oru
