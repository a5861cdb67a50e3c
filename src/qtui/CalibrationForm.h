#pragma once

#include "calibration/CalibrationClose.h"
#include "calibration/CalibrationProcedure.h"
#include "display/DesktopScreens.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <optional>
#include <stdexcept>

class QLabel;

namespace oru {

/// The full-screen calibration window: borderless over the whole board's
/// screen (the primary one until the main window names another), pointer
/// hidden, a red and a blue crosshair that it moves from target to target.
/// Shown modally; the run starts 500 ms after the show, inside Timer1's
/// handler, once the window manager has placed the window so that every
/// target's screen point lies in it, and pumps events while it waits for the pen.
class TcalibrationForm : public QDialog, public CalibrationView {
    Q_OBJECT

public:
    /// Crosshair images are this many pixels square, centred on their target.
    static constexpr int kTargetImagePx = kCrosshairImagePx;
    /// How long after the show the window manager has to put the window over
    /// the board screen before the run is refused.
    static constexpr int kPlacementWaitMs = 2500;

    TcalibrationForm(TMainFormState& state, CalibrationHost& host, QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* target1;  // red
    QLabel* target2;  // blue, above target1
    QTimer Timer1;

    void FormShow();
    void FormKeyPress(int key);
    void Timer1Timer();

    /// The program is ending: a running calibration stops as if cancelled.
    void setQuitRequested() { quitRequested_ = true; }
    bool running() const { return close_.running(); }
    /// The board's screen: the next show opens there and takes its size.
    void setBoardScreen(const DesktopScreen& board) { board_ = board; }

    // CalibrationView
    void pump() override;
    void waitAndPump() override;
    void showTargets(TPoint targetPx, bool redVisible, bool blueVisible) override;
    /// Where a target point (physical pixels of the board screen) is on the
    /// desktop, in Qt's logical global coordinates.
    QPoint targetOnDesktop(TPoint targetPx) const;
    /// Every target's screen point lies inside the window as the window system
    /// has mapped it.
    bool coversTargets() const;
    void requestClose() override;
    int screenWidthPx() const override;
    int screenHeightPx() const override;
    bool quitRequested() const override { return quitRequested_; }

    /// Draws one crosshair: two 2-pixel lines across the image crossing at its
    /// centre, and a circle of 40 pixels diameter around the crossing.
    static QPixmap crosshair(const QColor& color);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// The QScreen showing the board's picture; the primary when none does.
    QScreen* boardQScreen() const;
    double boardPixelRatio() const;
    /// The board screen's top left in Qt's logical global coordinates.
    QPoint boardOrigin() const;
    /// Puts the crosshairs on the shown target's screen point, wherever the
    /// window is now.
    void placeTargets();
    // CalibrationView: where the window manager put the window. overTargets()
    // waits, bounded, until the window is mapped over every target.
    bool overTargets() override;
    bool runEndsAtOnce() const override;
    std::string placementText() const override;
    std::string placementAdvice() const override;

    TMainFormState& state_;
    CalibrationProcedure procedure_;
    std::optional<DesktopScreen> board_;
    std::optional<TPoint> shownTarget_;
    QElapsedTimer sinceShow_;
    CalibrationClose close_;
    bool quitRequested_ = false;
};

} // namespace oru
