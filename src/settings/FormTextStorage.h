#pragma once

#include "settings/FormPlacementKeeper.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace oru {

/// The stored text of a property at path: what the restore sets, or nothing
/// when the storage holds no value (nor key) there. Raises the storage's errors.
std::optional<std::string> restoredText(TCustomAppStorage& storage, const std::string& path,
                                        const std::string& current);

/// The form storage of a window whose components are plain text fields: the
/// placement plus named texts, each kept as "<component>_Text" below
/// AppStoragePath and StoredPropsPath, restored every time the window is shown
/// and saved with the placement. For shells without a property system (Win32).
class FormTextStorage final : public FormPlacementKeeper {
public:
    using FormPlacementKeeper::FormPlacementKeeper;

    /// A text field named component; get and set reach its text (UTF-8).
    void addText(std::string component, std::function<std::string()> get,
                 std::function<void(const std::string&)> set);
    /// Whether the component's text is kept: a text not kept is neither saved
    /// nor restored (all are kept from the start).
    void setStored(const std::string& component, bool stored);

    /// Below AppStoragePath; empty here.
    std::string StoredPropsPath;

    /// Restores the stored texts; every error is ignored.
    void LoadPropertyList();
    /// Saves the texts; raises the storage's errors.
    void StorePropertyList();

protected:
    void SavePlacement() override;
    void RestorePlacement() override;

private:
    struct Field {
        std::string component;
        std::function<std::string()> get;
        std::function<void(const std::string&)> set;
        bool stored = true;
    };
    std::string pathOf(const Field& field) const;

    std::vector<Field> fields_;
};

} // namespace oru
