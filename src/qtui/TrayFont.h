#pragma once

#include "common/TColor.h"

#include <QFont>

#include <functional>

namespace oru {

/// The font of a text tray icon: a typeface with its colour. Every change of
/// an attribute to a different value is reported through OnChange; setting
/// an attribute to the value it already has reports nothing.
class TTrayFont {
public:
    TTrayFont();
    TTrayFont(const QFont& font, TColor color);
    /// Copies the attributes only; the copy has no OnChange of its own.
    TTrayFont(const TTrayFont& other);
    TTrayFont& operator=(const TTrayFont&) = delete;

    TColor Color() const { return color_; }
    void setColor(TColor color);

    const QFont& qFont() const { return font_; }
    void setQFont(const QFont& font);

    /// Takes over every attribute of another font without reporting it; the
    /// owner decides what a copy means (the text tray icon repaints once).
    void assignSilently(const TTrayFont& other);

    std::function<void()> OnChange;

private:
    void changed();

    QFont font_;
    TColor color_;
};

} // namespace oru
