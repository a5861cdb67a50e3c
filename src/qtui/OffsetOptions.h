#pragma once

#include <functional>

namespace oru {

/// Fine placement of the text on the 16 x 16 tray square, in pixels. A change
/// to a different value is reported through OnChange.
class TOffsetOptions {
public:
    TOffsetOptions() = default;
    TOffsetOptions(const TOffsetOptions&) = delete;
    TOffsetOptions& operator=(const TOffsetOptions&) = delete;

    int OffsetX() const { return offsetX_; }
    void setOffsetX(int px) { update(offsetX_, px); }

    /// Positive moves the text down.
    int OffsetY() const { return offsetY_; }
    void setOffsetY(int px) { update(offsetY_, px); }

    /// Extra space between lines of a multi-line text, added to the font height.
    int LineDistance() const { return lineDistance_; }
    void setLineDistance(int px) { update(lineDistance_, px); }

    std::function<void()> OnChange;

private:
    void update(int& field, int value)
    {
        if (field == value)
            return;
        field = value;
        if (OnChange)
            OnChange();
    }

    int offsetX_ = 0;
    int offsetY_ = 0;
    int lineDistance_ = 0;
};

} // namespace oru
