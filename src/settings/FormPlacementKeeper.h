#pragma once

#include "common/TPoint.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <string>

namespace oru {

class TCustomAppStorage;

/// What of a window's placement is kept. Only fpLocation and fpSize are
/// carried out here; the driver's main window uses [fpLocation].
enum TPlacementOption { fpState, fpSize, fpLocation, fpActiveControl };

/// A set of TPlacementOption.
class TPlacementOptions {
public:
    constexpr TPlacementOptions() = default;
    constexpr TPlacementOptions(std::initializer_list<TPlacementOption> options)
    {
        for (const TPlacementOption option : options) bits_ |= bit(option);
    }
    constexpr bool contains(TPlacementOption option) const { return (bits_ & bit(option)) != 0; }
    constexpr bool operator==(const TPlacementOptions&) const = default;

private:
    static constexpr unsigned bit(TPlacementOption option) { return 1u << static_cast<unsigned>(option); }
    unsigned bits_ = 0;
};

/// How a stored FormVersion is compared with the form storage's Version.
enum TFormPlacementVersionCheck { fpvcNocheck, fpvcCheckGreaterEqual, fpvcCheckEqual };

/// The primary screen as the placement values record it.
struct ScreenMetrics {
    int widthPx = 0;  // physical pixels
    int heightPx = 0;
    int pixelsPerInch = 96;  // logical
};

/// A rectangle as placement values store it: right and bottom lie just
/// outside, so width = right - left.
struct PlacementRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

/// A window's placement record. The toolkit keeps no minimised or maximised
/// position and no placement flags, so this component keeps them: restored
/// values are written back, a window that never had them reports -1,-1 and flags 0.
struct TWindowPlacement {
    std::int32_t flags = 0;
    TPoint minPosition{-1, -1};
    TPoint maxPosition{-1, -1};
    PlacementRect normalRect;  // outer window, frame included, desktop pixels
};

/// The window whose placement is kept, as the toolkit shows it. Rectangles are
/// of the outer window, frame included, in desktop pixels.
class PlacementWindow {
public:
    virtual ~PlacementWindow() = default;
    /// False once the window is gone: nothing is read from it or applied to it.
    virtual bool exists() const = 0;
    /// The window's object name ("%FORM_NAME%" of the storage path).
    virtual std::string name() const = 0;
    /// Where the window is now.
    virtual PlacementRect frame() const = 0;
    /// Where it is in its normal state: frame() unless minimised or maximised.
    virtual PlacementRect normalFrame() const = 0;
    virtual void moveFrame(int left, int top) = 0;
    virtual void resizeBy(int widthChange, int heightChange) = 0;
    /// False for a window of fixed size.
    virtual bool sizeable() const = 0;
};

/// Keeps a window's placement in a storage between runs: restored every time
/// the window is shown, before its own show handler, and saved when it is
/// asked to close or is destroyed. The window calls the three hooks from its
/// own events. Errors the hooks catch while restoring or saving go to the error
/// report the window gives (the program shows them in a message box).
class FormPlacementKeeper {
public:
    using ErrorReport = std::function<void(const std::exception& error)>;

    /// window: the window; storage: the back-end (may be null: nothing is kept).
    /// Both must outlive this component. Without an error report, caught errors
    /// go to stderr. primaryScreen gives the screen's size and density unless
    /// setScreenMetricsSource names another source.
    FormPlacementKeeper(PlacementWindow& window, TCustomAppStorage* storage, ErrorReport reportError,
                        std::function<ScreenMetrics()> primaryScreen);
    virtual ~FormPlacementKeeper() = default;
    FormPlacementKeeper(const FormPlacementKeeper&) = delete;
    FormPlacementKeeper& operator=(const FormPlacementKeeper&) = delete;

    TCustomAppStorage* AppStorage() const { return storage_; }
    /// Null forgets the storage: the hooks then neither save nor restore.
    void setAppStorage(TCustomAppStorage* storage) { storage_ = storage; }

    /// Path of the values in the storage; always ends in "\" unless empty.
    const std::string& AppStoragePath() const { return appStoragePath_; }
    /// "%FORM_NAME%" becomes the owner's object name; a "\" is added at the end.
    void setAppStoragePath(const std::string& path);

    TPlacementOptions Options{fpState, fpSize, fpLocation};
    bool Active = true;
    std::int32_t Version = 0;
    TFormPlacementVersionCheck VersionCheck = fpvcCheckGreaterEqual;

    /// Where the screen's size and density come from; the primary screen by default.
    void setScreenMetricsSource(std::function<ScreenMetrics()> source) { screenMetrics_ = std::move(source); }
    /// "(%dx%d)" of the screen size, e.g. "(1024x768)".
    std::string ScreenSuffix() const;

    /// Called once the owner has created all its components (Edit1..Edit8).
    virtual void loaded() {}

    /// The window is being shown: restore, then the window's own show handler.
    void showHook(const std::function<void()>& ownShow);
    /// The window is asked to close (session end): the window's own handler may
    /// refuse; when closing is allowed and the window has been shown, save.
    void closeQueryHook(bool& canClose, const std::function<void(bool&)>& ownCloseQuery = {});
    /// The window is being destroyed: save unless a save since the last restore
    /// already did, or the window was never restored (never shown), then the
    /// window's own destroy handler. Call it while the owner's child components
    /// still exist (from the owner's destructor body).
    void destroyHook(const std::function<void()>& ownDestroy);

    /// Restores placement and contents when the stored FormVersion passes the
    /// version check; clears StateSaved. Raises the storage's errors.
    void RecallState();
    /// Saves FormVersion, placement and contents in one update of the storage:
    /// all of them or, on an error, none. Sets StateSaved on success; raises
    /// EAppStorageError otherwise.
    void PersistState();
    bool StateSaved() const { return stateSaved_; }

    /// Placement values under path (normally AppStoragePath).
    void ReadWindowPosition(const std::string& path, TPlacementOptions options);
    void WriteWindowPosition(const std::string& path, TPlacementOptions options);

    /// The placement record as it stands now.
    TWindowPlacement currentPlacement() const;

protected:
    /// The save and restore after FormVersion: the placement here, more in
    /// derived classes.
    virtual void SavePlacement();
    virtual void RestorePlacement();

    bool storageUsable() const { return Active && storage_ != nullptr; }

private:
    ScreenMetrics screenMetrics() const;
    void applyPlacement(const TWindowPlacement& placement, TPlacementOptions options);
    void report(const std::exception& error) const;

    PlacementWindow& window_;
    TCustomAppStorage* storage_;
    ErrorReport reportError_;
    std::string appStoragePath_;
    std::function<ScreenMetrics()> screenMetrics_;
    std::function<ScreenMetrics()> primaryScreen_;
    TWindowPlacement kept_;  // the parts of the record the toolkit doesn't hold
    bool stateSaved_ = false;
    bool recalled_ = false;
};

} // namespace oru
