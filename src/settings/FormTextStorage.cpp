#include "settings/FormTextStorage.h"

#include "settings/CustomAppStorage.h"

namespace oru {

std::optional<std::string> restoredText(TCustomAppStorage& storage, const std::string& path,
                                        const std::string& current)
{
    if (!storage.HasValue(path) && !storage.HasKey(path)) return std::nullopt;
    return storage.ReadText(path, current);
}

void FormTextStorage::addText(std::string component, std::function<std::string()> get,
                              std::function<void(const std::string&)> set)
{
    fields_.push_back({std::move(component), std::move(get), std::move(set), true});
}

void FormTextStorage::setStored(const std::string& component, bool stored)
{
    for (Field& field : fields_) {
        if (field.component == component) field.stored = stored;
    }
}

std::string FormTextStorage::pathOf(const Field& field) const
{
    return JoinPath({JoinPath({AppStoragePath(), StoredPropsPath}), field.component + "_Text"});
}

void FormTextStorage::LoadPropertyList()
{
    TCustomAppStorage* storage = AppStorage();
    if (!storage) return;
    // A stored text that can't be restored keeps its value; nothing is reported.
    for (const Field& field : fields_) {
        if (!field.stored) continue;
        try {
            if (const auto text = restoredText(*storage, pathOf(field), field.get())) field.set(*text);
        } catch (const std::exception&) {
        }
    }
}

void FormTextStorage::StorePropertyList()
{
    TCustomAppStorage* storage = AppStorage();
    if (!storage) return;
    for (const Field& field : fields_) {
        if (field.stored) storage->WriteText(pathOf(field), field.get());
    }
}

void FormTextStorage::SavePlacement()
{
    FormPlacementKeeper::SavePlacement();
    StorePropertyList();
}

void FormTextStorage::RestorePlacement()
{
    FormPlacementKeeper::RestorePlacement();
    LoadPropertyList();
}

} // namespace oru
