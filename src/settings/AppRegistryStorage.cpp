#include "settings/AppRegistryStorage.h"

#include "common/ArithmeticError.h"
#include "common/FloatMath.h"

namespace oru {

namespace {

EAppStorageError cannotCreate(const std::string& keyPath)
{
    return EAppStorageError("Unable to create key '" + keyPath + "'");
}

EAppStorageError cannotWrite(const std::string& keyPath)
{
    return EAppStorageError("Unable to open key \"" + keyPath + "\" for write");
}

EAppStorageError cannotRead(const std::string& keyPath)
{
    return EAppStorageError("Unable to open key \"" + keyPath + "\" for read");
}

} // namespace

TAppRegistryStorage::TAppRegistryStorage(RegistryStore& store) : store_(store) {}

bool TAppRegistryStorage::DoHasValue(const TStoragePath& path)
{
    switch (store_.keyState(path.key)) {
    case RegistryStore::KeyState::Missing: return false;
    case RegistryStore::KeyState::Unreadable: throw cannotRead(path.key);
    case RegistryStore::KeyState::Present: break;
    }
    return store_.queryValue(path.key, path.name).has_value();
}

bool TAppRegistryStorage::DoHasKey(const std::string& keyPath)
{
    return store_.keyState(keyPath) == RegistryStore::KeyState::Present;
}

std::int32_t TAppRegistryStorage::DoReadNumber(const TStoragePath& path, std::int32_t defaultValue)
{
    const auto value = store_.queryValue(path.key, path.name);
    if (!value) return defaultValue;
    if (value->kind == StoredKind::Number) return value->number;
    try {
        return textToInt(value->text);
    } catch (const EConvertError&) {
        store_.reportUnusableValue(path.key, path.name, "a text that is not a decimal integer");
        return defaultValue;
    }
}

std::string TAppRegistryStorage::DoReadText(const TStoragePath& path, const std::string& defaultValue)
{
    const auto value = store_.queryValue(path.key, path.name);
    if (!value) return defaultValue;
    if (value->kind == StoredKind::Text) return value->text;
    store_.reportUnusableValue(path.key, path.name, "a number where a text belongs");
    return defaultValue;
}

void TAppRegistryStorage::DoWriteNumber(const TStoragePath& path, std::int32_t value)
{
    writeValue(path, StoredValue::ofNumber(value));
}

void TAppRegistryStorage::DoWriteText(const TStoragePath& path, const std::string& value)
{
    writeValue(path, StoredValue::ofText(value));
}

void TAppRegistryStorage::ensureKey(const std::string& keyPath)
{
    switch (store_.keyState(keyPath)) {
    case RegistryStore::KeyState::Present: return;
    case RegistryStore::KeyState::Unreadable: throw cannotWrite(keyPath);
    case RegistryStore::KeyState::Missing: break;
    }
    if (!store_.createKey(keyPath)) throw cannotCreate(keyPath);
    if (updating_ && updateKey_.empty()) updateCreatedKey_ = true;
}

void TAppRegistryStorage::writeValue(const TStoragePath& path, const StoredValue& value)
{
    ensureKey(path.key);
    if (updating_ && updateKey_.empty()) updateKey_ = path.key;
    if (!store_.setValue(path.key, path.name, value)) throw cannotWrite(path.key);
}

void TAppRegistryStorage::DoBeginUpdate()
{
    store_.beginUpdate();
    updating_ = true;
    updateKey_.clear();
    updateCreatedKey_ = false;
}

void TAppRegistryStorage::DoEndUpdate(bool keep)
{
    updating_ = false;
    if (store_.endUpdate(keep) || !keep || updateKey_.empty()) return;
    // The held writes reach the disk only now; their failure is the failure of
    // the first write, which had to create its key on a clean account.
    throw updateCreatedKey_ ? cannotCreate(updateKey_) : cannotWrite(updateKey_);
}

} // namespace oru
