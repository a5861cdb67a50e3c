#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace oru {

/// A storage error the user sees, e.g. "Unable to create key 'Software\oruDriver'".
class EAppStorageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Joins path pieces ("\" between parts) into one normalised relative path: the
/// last piece after the first that starts with "\" restarts the path, a segment
/// of n dots drops the n-1 segments before it, empty segments vanish, and a
/// blank result is "". {"Software\oruDriver\", ""} gives "Software\oruDriver".
std::string JoinPath(const std::vector<std::string>& pieces);

/// A value path split into the key below the storage's root and the value name.
struct TStoragePath {
    std::string key;
    std::string name;
    bool operator==(const TStoragePath&) const = default;
};

/// Typed values stored under paths: the path rules and the read defaults live
/// here, the keeping of keys and values in a derived class. Paths use "\".
class TCustomAppStorage {
public:
    /// The root marker that stands for an empty root.
    static constexpr const char* kNoRoot = "%NONE%";

    TCustomAppStorage() = default;
    virtual ~TCustomAppStorage() = default;
    TCustomAppStorage(const TCustomAppStorage&) = delete;
    TCustomAppStorage& operator=(const TCustomAppStorage&) = delete;

    /// The path every value path is placed under; "%NONE%" gives the empty root.
    const std::string& Root() const { return root_; }
    void setRoot(const std::string& root);

    /// Writes are skipped while set.
    bool ReadOnly = false;

    /// Where a value path lands: JoinPath of it, under the root, split at its last "\".
    TStoragePath valuePath(const std::string& path) const;

    /// The value's key exists and the value can be queried. Raises
    /// EAppStorageError when the key exists but can't be opened for reading.
    bool HasValue(const std::string& path);
    /// A key exists at the whole path.
    bool HasKey(const std::string& path);

    /// The stored 32-bit integer, or the default when it is missing or unusable;
    /// never raises.
    std::int32_t ReadNumber(const std::string& path, std::int32_t defaultValue);
    /// Creates the key when needed; raises EAppStorageError when it can't write.
    void WriteNumber(const std::string& path, std::int32_t value);
    /// The stored text, or the default when it is missing or unusable; never raises.
    std::string ReadText(const std::string& path, const std::string& defaultValue);
    /// Creates the key when needed; raises EAppStorageError when it can't write.
    void WriteText(const std::string& path, const std::string& value);

    /// Holds the writes until EndUpdate, which stores them all or none: a save
    /// cut short (by an error, a crash or a kill) never leaves half of it stored.
    void BeginUpdate();
    /// keep false drops the held writes. Raises EAppStorageError when keep is
    /// true and the held writes could not be stored.
    void EndUpdate(bool keep);

protected:
    virtual bool DoHasValue(const TStoragePath& path) = 0;
    virtual bool DoHasKey(const std::string& keyPath) = 0;
    /// Only called when DoHasValue was true.
    virtual std::int32_t DoReadNumber(const TStoragePath& path, std::int32_t defaultValue) = 0;
    virtual std::string DoReadText(const TStoragePath& path, const std::string& defaultValue) = 0;
    virtual void DoWriteNumber(const TStoragePath& path, std::int32_t value) = 0;
    virtual void DoWriteText(const TStoragePath& path, const std::string& value) = 0;
    virtual void DoBeginUpdate() {}
    virtual void DoEndUpdate(bool /*keep*/) {}

private:
    std::string root_;
    int updateDepth_ = 0;
};

} // namespace oru
