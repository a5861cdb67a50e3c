#include "settings/FormPlacementKeeper.h"

#include "common/ArithmeticError.h"
#include "common/FloatMath.h"
#include "settings/CustomAppStorage.h"

#include <cstdio>
#include <optional>
#include <string_view>

namespace oru {

namespace {

constexpr char kFormVersion[] = "FormVersion";
constexpr char kFlags[] = "Flags";
constexpr char kPixelsPerInch[] = "PixelsPerInch";
constexpr char kMinMaxPos[] = "MinMaxPos";
constexpr char kNormPos[] = "NormPos";

// A value path below the placement path; the path already ends in "\", and the
// doubled separator is collapsed by the storage.
std::string under(const std::string& path, const std::string& name)
{
    return path + "\\" + name;
}

// Word n (from 1) of a text whose words are separated by commas or blanks,
// as an integer; nothing when it is missing or not an integer.
std::optional<int> wordAt(std::string_view text, int n)
{
    std::size_t pos = 0;
    for (int index = 1;; ++index) {
        pos = text.find_first_not_of(", ", pos);
        if (pos == std::string_view::npos) return std::nullopt;
        const std::size_t end = std::min(text.find_first_of(", ", pos), text.size());
        if (index == n) {
            try {
                return textToInt(text.substr(pos, end - pos));
            } catch (const EConvertError&) {
                return std::nullopt;
            }
        }
        pos = end;
    }
}

std::string fourNumbers(int a, int b, int c, int d)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", a, b, c, d);
    return text;
}

} // namespace

FormPlacementKeeper::FormPlacementKeeper(PlacementWindow& window, TCustomAppStorage* storage,
                                         ErrorReport reportError, std::function<ScreenMetrics()> primaryScreen)
    : window_(window), storage_(storage), reportError_(std::move(reportError)), screenMetrics_(primaryScreen),
      primaryScreen_(std::move(primaryScreen))
{
}

void FormPlacementKeeper::setAppStoragePath(const std::string& path)
{
    std::string value = path;
    static constexpr std::string_view kFormName = "%FORM_NAME%";
    const std::string formName = window_.exists() ? window_.name() : std::string();
    for (std::size_t at = value.find(kFormName); at != std::string::npos; at = value.find(kFormName, at + formName.size())) {
        value.replace(at, kFormName.size(), formName);
    }
    if (!value.empty() && value.back() != '\\') value += '\\';
    appStoragePath_ = value;
}

ScreenMetrics FormPlacementKeeper::screenMetrics() const
{
    return screenMetrics_ ? screenMetrics_() : primaryScreen_();
}

std::string FormPlacementKeeper::ScreenSuffix() const
{
    const ScreenMetrics metrics = screenMetrics();
    char text[32];
    std::snprintf(text, sizeof text, "(%dx%d)", metrics.widthPx, metrics.heightPx);
    return text;
}

void FormPlacementKeeper::report(const std::exception& error) const
{
    if (reportError_) {
        reportError_(error);
    } else {
        std::fprintf(stderr, "oruDriver: %s\n", error.what());
    }
}

void FormPlacementKeeper::showHook(const std::function<void()>& ownShow)
{
    if (storageUsable()) {
        try {
            RecallState();
        } catch (const std::exception& error) {
            report(error);
        }
    }
    if (ownShow) ownShow();
}

void FormPlacementKeeper::closeQueryHook(bool& canClose, const std::function<void(bool&)>& ownCloseQuery)
{
    if (ownCloseQuery) ownCloseQuery(canClose);
    // The driver's main window is never mapped, so whether the window system
    // knows it says nothing; what matters is that it went through its show.
    if (canClose && storageUsable() && recalled_) {
        try {
            PersistState();
        } catch (const std::exception& error) {
            report(error);
        }
    }
}

void FormPlacementKeeper::destroyHook(const std::function<void()>& ownDestroy)
{
    // A window destroyed before its first restore holds only its initial
    // values; saving them would overwrite what an earlier run stored.
    if (storageUsable() && !stateSaved_ && recalled_) {
        try {
            PersistState();
        } catch (const std::exception& error) {
            report(error);
        }
    }
    if (ownDestroy) ownDestroy();
}

void FormPlacementKeeper::RecallState()
{
    stateSaved_ = false;
    recalled_ = true;
    if (!storage_) return;
    const std::int32_t stored = storage_->ReadNumber(JoinPath({appStoragePath_, kFormVersion}), 0);
    const bool passes = VersionCheck == fpvcNocheck || (VersionCheck == fpvcCheckGreaterEqual && stored >= Version) ||
                        (VersionCheck == fpvcCheckEqual && stored == Version);
    if (!passes) return;
    RestorePlacement();
}

void FormPlacementKeeper::PersistState()
{
    if (!storage_) return;
    storage_->BeginUpdate();
    try {
        storage_->WriteNumber(JoinPath({appStoragePath_, kFormVersion}), Version);
        SavePlacement();
    } catch (...) {
        storage_->EndUpdate(false);
        throw;
    }
    storage_->EndUpdate(true);
    stateSaved_ = true;
}

void FormPlacementKeeper::SavePlacement()
{
    WriteWindowPosition(appStoragePath_, Options);
}

void FormPlacementKeeper::RestorePlacement()
{
    ReadWindowPosition(appStoragePath_, Options);
}

TWindowPlacement FormPlacementKeeper::currentPlacement() const
{
    TWindowPlacement placement = kept_;
    if (!window_.exists()) return placement;
    // Placement values describe the outer window in its normal (restored) state.
    placement.normalRect = window_.normalFrame();
    return placement;
}

void FormPlacementKeeper::applyPlacement(const TWindowPlacement& placement, TPlacementOptions options)
{
    kept_.flags = placement.flags;
    kept_.minPosition = placement.minPosition;
    kept_.maxPosition = placement.maxPosition;
    if (!window_.exists()) return;
    const PlacementRect& rect = placement.normalRect;
    window_.moveFrame(rect.left, rect.top);
    const PlacementRect frame = window_.frame();
    const int widthChange = (rect.right - rect.left) - (frame.right - frame.left);
    const int heightChange = (rect.bottom - rect.top) - (frame.bottom - frame.top);
    if (options.contains(fpSize) && (widthChange != 0 || heightChange != 0)) {
        window_.resizeBy(widthChange, heightChange);
    }
}

void FormPlacementKeeper::ReadWindowPosition(const std::string& path, TPlacementOptions options)
{
    if (options == TPlacementOptions{fpActiveControl}) return;
    if (!storage_ || !window_.exists()) return;
    if (!options.contains(fpSize) && !options.contains(fpLocation)) return;

    TWindowPlacement placement = currentPlacement();
    const PlacementRect own = placement.normalRect;
    const int ownWidth = own.right - own.left;
    const int ownHeight = own.bottom - own.top;
    const std::string suffix = ScreenSuffix();
    // Values of the current screen size win; otherwise the last save under any size.
    auto readPositions = [&](const std::string& name) {
        const std::string sized = under(path, name + suffix);
        return storage_->ReadText(storage_->HasValue(sized) ? sized : under(path, name), std::string());
    };

    placement.flags = storage_->ReadNumber(under(path, kFlags), placement.flags);
    bool found = false;

    const std::string minMax = readPositions(kMinMaxPos);
    if (!minMax.empty()) {
        found = true;
        if (options.contains(fpLocation)) {
            placement.minPosition = {wordAt(minMax, 1).value_or(0), wordAt(minMax, 2).value_or(0)};
        }
        if (options.contains(fpSize)) {
            placement.maxPosition = {wordAt(minMax, 3).value_or(0), wordAt(minMax, 4).value_or(0)};
        }
    }

    const std::string normal = readPositions(kNormPos);
    if (!normal.empty()) {
        found = true;
        PlacementRect& rect = placement.normalRect;
        rect.left = options.contains(fpLocation) ? wordAt(normal, 1).value_or(own.left) : own.left;
        rect.top = options.contains(fpLocation) ? wordAt(normal, 2).value_or(own.top) : own.top;
        if (options.contains(fpSize)) {
            rect.right = rect.left + wordAt(normal, 3).value_or(ownWidth) - wordAt(normal, 1).value_or(own.left);
            rect.bottom = rect.top + wordAt(normal, 4).value_or(ownHeight) - wordAt(normal, 2).value_or(own.top);
        } else {
            rect.right = rect.left + ownWidth;
            rect.bottom = rect.top + ownHeight;
        }
    }

    if (!found) return;
    // Positions saved at another pixel density would put the window elsewhere.
    const int pixelsPerInch = screenMetrics().pixelsPerInch;
    if (storage_->ReadNumber(under(path, kPixelsPerInch), pixelsPerInch) != pixelsPerInch) return;

    // A window of fixed size keeps its own size whatever was stored.
    const bool sizeable = window_.sizeable();
    PlacementRect& rect = placement.normalRect;
    if (!sizeable) {
        rect.right = rect.left + ownWidth;
        rect.bottom = rect.top + ownHeight;
    }
    if (rect.right > rect.left) applyPlacement(placement, options);
}

void FormPlacementKeeper::WriteWindowPosition(const std::string& path, TPlacementOptions options)
{
    if (options == TPlacementOptions{fpActiveControl}) return;
    if (!storage_) return;
    if (!options.contains(fpSize) && !options.contains(fpLocation)) return;

    const TWindowPlacement placement = currentPlacement();
    const std::string suffix = ScreenSuffix();
    storage_->WriteNumber(under(path, kFlags), placement.flags);
    storage_->WriteNumber(under(path, kPixelsPerInch), screenMetrics().pixelsPerInch);

    const std::string minMax = fourNumbers(placement.minPosition.x, placement.minPosition.y,
                                           placement.maxPosition.x, placement.maxPosition.y);
    storage_->WriteText(under(path, kMinMaxPos + suffix), minMax);
    storage_->WriteText(under(path, kMinMaxPos), minMax);

    const PlacementRect& rect = placement.normalRect;
    const std::string normal = fourNumbers(rect.left, rect.top, rect.right, rect.bottom);
    storage_->WriteText(under(path, kNormPos + suffix), normal);
    storage_->WriteText(under(path, kNormPos), normal);
}

} // namespace oru
