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

/// FormPlacementKeeper over a Qt window: the placement of owner is kept. The
/// window side comes first, so it exists when the keeper takes it.
class TFormPlacement : private QtPlacementWindow, public FormPlacementKeeper {
public:
    /// owner: the window; storage: the back-end (may be null: nothing is kept).
    /// Both must outlive this component. Without an error report, caught errors
    /// go to stderr.
    TFormPlacement(QWidget* owner, TCustomAppStorage* storage, ErrorReport reportError = {});

    /// Size of the primary screen in physical pixels, its logical DPI rounded.
    static ScreenMetrics primaryScreenMetrics();

protected:
    QWidget* owner() const { return window(); }
};

} // namespace oru
