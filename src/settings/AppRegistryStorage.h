#pragma once

#include "platform/RegistryStore.h"
#include "settings/CustomAppStorage.h"

namespace oru {

/// The settings storage over the per-user store: a value path names a key
/// below the user's root and a value in it. Reads take a value of the other
/// kind where it can be converted (a text holding a decimal integer for a
/// number) and give the default otherwise; writes create the key first.
class TAppRegistryStorage final : public TCustomAppStorage {
public:
    /// The store must outlive the storage.
    explicit TAppRegistryStorage(RegistryStore& store);

protected:
    bool DoHasValue(const TStoragePath& path) override;
    bool DoHasKey(const std::string& keyPath) override;
    std::int32_t DoReadNumber(const TStoragePath& path, std::int32_t defaultValue) override;
    std::string DoReadText(const TStoragePath& path, const std::string& defaultValue) override;
    void DoWriteNumber(const TStoragePath& path, std::int32_t value) override;
    void DoWriteText(const TStoragePath& path, const std::string& value) override;
    void DoBeginUpdate() override;
    void DoEndUpdate(bool keep) override;

private:
    void writeValue(const TStoragePath& path, const StoredValue& value);
    void ensureKey(const std::string& keyPath);

    RegistryStore& store_;
    bool updating_ = false;
    // The first write of an update decides which message a failed update gives.
    std::string updateKey_;
    bool updateCreatedKey_ = false;
};

} // namespace oru
