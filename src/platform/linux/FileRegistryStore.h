#pragma once

#include "platform/RegistryStore.h"
#include "settings/StoreContents.h"

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

struct stat;

namespace oru {

/// The per-user store as one text file, <directory>/store.conf (format in
/// StoreContents.h). The file is the truth: it is read again whenever it has
/// changed on disk, and every write replaces it whole - a temporary file in the
/// same directory, fsync, rename - so a crash or kill leaves the old file or
/// the new one, never a mix. The file is mode 0600, its directory 0700.
/// Temporary files carry their writer's host, pid namespace and pid, so that
/// several writers of one folder (a home shared over the network) never remove
/// each other's; one left by an ended writer of this host is removed.
///
/// A file that can't be parsed (cut short, garbage, over 1 MiB) is renamed to
/// store.conf.damaged-<UTC time> and the store starts empty; one line on stderr
/// says what was found. A text that is not valid UTF-8 (the settings layer would
/// turn it into U+FFFD) is kept the same way, as a copy of the file, before the
/// first write that replaces it.
///
/// The folder must be this user's alone: one that others may write to is set to
/// 0700; one owned by another user (left by a run as root, say) is neither read
/// nor written, and settings start from their defaults. Main thread only.
class FileRegistryStore final : public RegistryStore {
public:
    static constexpr const char* kFileName = "store.conf";
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    /// $XDG_CONFIG_HOME/oruDriver when that is an absolute path, otherwise
    /// $HOME/.config/oruDriver; empty when neither variable gives an absolute path.
    static std::filesystem::path storeDirectoryFor(const char* xdgConfigHome, const char* home);
    /// storeDirectoryFor with the process environment.
    static std::filesystem::path userStoreDirectory();

    /// Nothing is touched before the first access. The directory and missing
    /// parents are created (mode 0700) at the first write. An empty directory
    /// means the store has no place: reads find nothing and writes fail.
    explicit FileRegistryStore(std::filesystem::path directory);

    /// Empty when the store has no place.
    const std::filesystem::path& filePath() const { return file_; }

    KeyState keyState(const std::string& keyPath) override;
    std::optional<StoredValue> queryValue(const std::string& keyPath, const std::string& name) override;
    bool createKey(const std::string& keyPath) override;
    bool setValue(const std::string& keyPath, const std::string& name, const StoredValue& value) override;
    void beginUpdate() override;
    bool endUpdate(bool keep) override;
    void reportUnusableValue(const std::string& keyPath, const std::string& name, const std::string& found) override;

private:
    enum class Disk {
        NotRead,         // read at the next access
        Missing,         // no file: an empty store
        Loaded,          // contents_ is the file
        Unreadable,      // the file exists but can't be read; never written over
        DamagedInPlace,  // damaged, and could not be moved aside; never written over
        Refused,         // the folder is not this user's alone: neither read nor written
    };
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t sizeBytes = 0;
        std::timespec modified{};
        std::timespec changed{};
        bool operator==(const FileIdentity& other) const;
    };

    static FileIdentity identityOf(const struct stat& st);
    void refresh();
    void load(int fd, const FileIdentity& identity);
    void setMissing();
    void forget();
    void setUnreadable(const std::string& what, const std::optional<FileIdentity>& identity);
    void setDamaged(const std::string& problem, const FileIdentity& identity);
    bool folderIsPrivate();
    bool keepTextThatCannotBeDecoded(const std::string& keyPath, const std::string& name, const StoredValue& value);
    bool prepareWrite();
    bool commit(bool changed);
    bool writeFile();
    bool makeDirectory();
    /// store.conf.tmp-<host>-<pid namespace>-; a temporary file adds <pid>-XXXXXX.
    static std::string temporaryPrefix();
    void removeStaleTemporaries(const std::string& prefix);
    std::optional<std::filesystem::path> moveAside(std::string& error);
    std::optional<std::filesystem::path> copyAside(std::string& error);
    std::filesystem::path asideName(int attempt) const;
    /// Removes the earlier damaged copies of the store that hold what kept
    /// holds: damage that stays (a start that ends before a save, a file put
    /// back) is kept once, in its newest copy.
    void dropOlderCopiesLike(const std::filesystem::path& kept) const;
    void warn(const std::string& line);

    std::filesystem::path directory_;
    std::filesystem::path file_;
    StoreContents contents_;
    Disk disk_ = Disk::NotRead;
    std::optional<FileIdentity> identity_;
    bool updating_ = false;
    bool pendingWrite_ = false;
    bool copyKept_ = false;
    bool temporariesChecked_ = false;
    std::string lastWarning_;
};

} // namespace oru
