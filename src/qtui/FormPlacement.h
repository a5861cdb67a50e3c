#pragma once

#include "settings/FormPlacementKeeper.h"

#include <QPointer>
#include <QWidget>

#include <string>

namespace oru {

/// A Qt window as the core's placement keeping sees it (FormPlacementKeeper,
/// FormTextStorage).
class QtPlacementWindow : public PlacementWindow {
public:
    explicit QtPlacementWindow(QWidget* owner) : owner_(owner) {}
    QWidget* window() const { return owner_; }

    /// Size of the primary screen in physical pixels, its logical DPI rounded:
    /// the keeper's primaryScreen source.
    static ScreenMetrics primaryScreenMetrics();

    bool exists() const override { return owner_ != nullptr; }
    std::string name() const override { return owner_->objectName().toStdString(); }
    PlacementRect frame() const override;
    PlacementRect normalFrame() const override;
    void moveFrame(int left, int top) override { owner_->move(left, top); }
    void resizeBy(int widthChange, int heightChange) override
    {
        owner_->resize(owner_->width() + widthChange, owner_->height() + heightChange);
    }
    bool sizeable() const override { return owner_->minimumSize() != owner_->maximumSize(); }

private:
    QPointer<QWidget> owner_;
};

} // namespace oru
