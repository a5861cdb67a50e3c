#include "platform/linux/FileRegistryStore.h"

#include "platform/linux/StoreFileIo.h"
#include "platform/linux/UniqueFd.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace oru {

namespace {

constexpr const char* kTemporaryInfix = ".tmp-";
constexpr std::size_t kTemporaryRandomChars = 6;  // mkstemp's XXXXXX
constexpr const char* kAsideInfix = ".damaged-";

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

std::string userName(uid_t uid)
{
    // getpwuid_r would need a buffer size guess; this runs on the main thread only.
    if (const passwd* entry = ::getpwuid(uid)) return entry->pw_name;
    return std::to_string(uid);
}

bool isAbsolute(const char* path)
{
    return path && path[0] == '/';
}

} // namespace

bool FileRegistryStore::FileIdentity::operator==(const FileIdentity& other) const
{
    return device == other.device && inode == other.inode && sizeBytes == other.sizeBytes &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

FileRegistryStore::FileIdentity FileRegistryStore::identityOf(const struct stat& st)
{
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

std::filesystem::path FileRegistryStore::storeDirectoryFor(const char* xdgConfigHome, const char* home)
{
    // XDG: a relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (isAbsolute(xdgConfigHome)) return std::filesystem::path(xdgConfigHome) / "oruDriver";
    if (isAbsolute(home)) return std::filesystem::path(home) / ".config" / "oruDriver";
    return {};
}

std::filesystem::path FileRegistryStore::userStoreDirectory()
{
    return storeDirectoryFor(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

FileRegistryStore::FileRegistryStore(std::filesystem::path directory) : directory_(std::move(directory))
{
    if (!directory_.empty()) file_ = directory_ / kFileName;
}

void FileRegistryStore::warn(const std::string& line)
{
    // A store that stays broken is asked again on every access; say it once.
    if (line == lastWarning_) return;
    lastWarning_ = line;
    std::fprintf(stderr, "oruDriver: %s\n", line.c_str());
}

void FileRegistryStore::setMissing()
{
    contents_ = StoreContents();
    disk_ = Disk::Missing;
    identity_.reset();
}

void FileRegistryStore::forget()
{
    contents_ = StoreContents();
    disk_ = Disk::NotRead;
    identity_.reset();
}

void FileRegistryStore::setUnreadable(const std::string& what, const std::optional<FileIdentity>& identity)
{
    contents_ = StoreContents();
    disk_ = Disk::Unreadable;
    identity_ = identity;
    warn("cannot read the settings store " + file_.string() + " (" + what +
         "); settings keep their defaults and are not saved over it. Give this user read and write access to it "
         "(chmod 600) or move it away");
}

void FileRegistryStore::refresh()
{
    // Writes held for an update are newer than the file.
    if (updating_) return;
    if (file_.empty()) {
        setMissing();
        return;
    }
    if (!folderIsPrivate()) {
        contents_ = StoreContents();
        disk_ = Disk::Refused;
        identity_.reset();
        return;
    }

    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            setMissing();
        } else {
            setUnreadable(failedCall("stat", error), std::nullopt);
        }
        return;
    }
    const FileIdentity identity = identityOf(st);
    if (disk_ != Disk::NotRead && identity_ && *identity_ == identity) return;

    if (!S_ISREG(st.st_mode)) {
        setUnreadable("it is not a regular file", identity);
        return;
    }
    if (static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
        setDamaged("it is " + std::to_string(st.st_size) + " bytes, more than the 1 MiB a settings store can reach",
                   identity);
        return;
    }
    UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        setUnreadable(failedCall("open", errno), identity);
        return;
    }
    // What was read belongs to the file as it is now, not as stat saw it.
    struct stat opened {};
    load(fd.get(), ::fstat(fd.get(), &opened) == 0 ? identityOf(opened) : identity);
}

void FileRegistryStore::load(int fd, const FileIdentity& identity)
{
    std::string bytes;
    if (!readUpTo(fd, kMaxFileBytes, bytes)) {
        setUnreadable(failedCall("read", errno), identity);
        return;
    }
    if (bytes.size() > kMaxFileBytes) {
        setDamaged("it is more than the 1 MiB a settings store can reach", identity);
        return;
    }
    std::string problem;
    auto parsed = StoreContents::parse(bytes, problem);
    if (!parsed) {
        setDamaged(problem, identity);
        return;
    }
    contents_ = std::move(*parsed);
    disk_ = Disk::Loaded;
    identity_ = identity;
    copyKept_ = false;
}

void FileRegistryStore::setDamaged(const std::string& problem, const FileIdentity& identity)
{
    std::string error;
    if (const auto aside = moveAside(error)) {
        warn("the settings store " + file_.string() + " is damaged (" + problem + "); it was kept as " +
             aside->string() + " and settings start from their defaults");
        setMissing();
        return;
    }
    contents_ = StoreContents();
    disk_ = Disk::DamagedInPlace;
    identity_ = identity;
    warn("the settings store " + file_.string() + " is damaged (" + problem + ") and could not be moved aside (" +
         error + "); settings keep their defaults and are not saved until the file is moved or deleted");
}

std::filesystem::path FileRegistryStore::asideName(int attempt) const
{
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (::gmtime_r(&now, &utc)) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string name = file_.string() + kAsideInfix + stamp;
    if (attempt > 0) name += "-" + std::to_string(attempt + 1);
    return name;
}

std::optional<std::filesystem::path> FileRegistryStore::moveAside(std::string& error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path target = asideName(attempt);
        // Never replace an earlier damaged file kept in the same second.
        bool moved = ::renameat2(AT_FDCWD, file_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
        int cause = errno;
        if (!moved && (cause == EINVAL || cause == ENOSYS)) {
            // A file system without RENAME_NOREPLACE: test, then rename.
            struct stat st {};
            if (::lstat(target.c_str(), &st) == 0) continue;
            moved = ::rename(file_.c_str(), target.c_str()) == 0;
            cause = errno;
        }
        if (moved) {
            dropOlderCopiesLike(target);
            return target;
        }
        if (cause == EEXIST) continue;
        error = failedCall("rename", cause);
        return std::nullopt;
    }
    error = "too many damaged copies kept already";
    return std::nullopt;
}

void FileRegistryStore::dropOlderCopiesLike(const std::filesystem::path& kept) const
{
    const auto bytesOf = [](const std::filesystem::path& path, std::string& bytes) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        // A damaged store may be larger than a store can be, but not without bound.
        return fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
               readUpTo(fd.get(), 4 * kMaxFileBytes, bytes) && bytes.size() <= 4 * kMaxFileBytes;
    };
    std::string content;
    if (!bytesOf(kept, content)) return;
    const std::string prefix = file_.filename().string() + kAsideInfix;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
        const std::string name = entry.path().filename().string();
        std::string other;
        if (name.rfind(prefix, 0) != 0 || entry.path() == kept || !bytesOf(entry.path(), other)) continue;
        if (other == content) ::unlink(entry.path().c_str());
    }
}

std::optional<std::filesystem::path> FileRegistryStore::copyAside(std::string& error)
{
    UniqueFd source(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    std::string bytes;
    if (source.get() < 0 || !readUpTo(source.get(), kMaxFileBytes, bytes)) {
        error = failedCall("read", errno);
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path target = asideName(attempt);
        UniqueFd copy(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (copy.get() < 0) {
            if (errno == EEXIST) continue;
            error = failedCall("open", errno);
            return std::nullopt;
        }
        if (!writeAll(copy.get(), bytes) || copy.close() != 0) {
            error = failedCall("write", errno);
            ::unlink(target.c_str());
            return std::nullopt;
        }
        dropOlderCopiesLike(target);
        return target;
    }
    error = "too many copies kept already";
    return std::nullopt;
}

RegistryStore::KeyState FileRegistryStore::keyState(const std::string& keyPath)
{
    refresh();
    if (disk_ == Disk::Unreadable) return KeyState::Unreadable;
    return contents_.keyExists(keyPath) ? KeyState::Present : KeyState::Missing;
}

std::optional<StoredValue> FileRegistryStore::queryValue(const std::string& keyPath, const std::string& name)
{
    refresh();
    const StoredValue* value = contents_.value(keyPath, name);
    if (!value) return std::nullopt;
    return *value;
}

bool FileRegistryStore::folderIsPrivate()
{
    // Whoever can write to the folder can put a store file there (or rename one
    // over ours), and a folder of another user can't be ours to rewrite. A
    // missing folder is made 0700 at the first write; a path that is not a
    // folder fails where the file is used.
    struct stat st {};
    if (::stat(directory_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
    const uid_t self = ::geteuid();
    if (st.st_uid != self) {
        warn("the settings folder " + directory_.string() + " belongs to user " + userName(st.st_uid) +
             ", not to this user (" + userName(self) +
             "); settings start from their defaults and are neither read from nor saved there. Give the folder to "
             "this user (sudo chown -R " + userName(self) + ": " + directory_.string() + ") or move it away");
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    if (::chmod(directory_.c_str(), 0700) != 0) {
        // Some file systems (network or foreign ones) keep fixed modes; the
        // settings stay usable there, as they were before this check.
        warn("the settings folder " + directory_.string() + " can be written by other users (mode " + mode +
             ") and could not be set to 0700 (" + failedCall("chmod", errno) + "); run: chmod 700 " +
             directory_.string());
        return true;
    }
    warn("the settings folder " + directory_.string() + " could be written by other users (mode " + mode +
         "); it was set to 0700");
    return true;
}

bool FileRegistryStore::prepareWrite()
{
    refresh();
    if (disk_ == Disk::Unreadable || disk_ == Disk::Refused) return false;
    if (disk_ == Disk::DamagedInPlace) {
        // Perhaps the directory became writable since.
        std::string error;
        const auto aside = moveAside(error);
        if (!aside) return false;
        warn("the damaged settings store was kept as " + aside->string());
        setMissing();
    }
    return true;
}

bool FileRegistryStore::commit(bool changed)
{
    if (!changed) return true;
    if (updating_) {
        pendingWrite_ = true;
        return true;
    }
    if (writeFile()) return true;
    // The file still holds what it held; read it again before the next use.
    forget();
    return false;
}

bool FileRegistryStore::createKey(const std::string& keyPath)
{
    if (!StoreContents::canHoldKeyPath(keyPath) || !prepareWrite()) return false;
    return commit(contents_.createKey(keyPath));
}

bool FileRegistryStore::keepTextThatCannotBeDecoded(const std::string& keyPath, const std::string& name,
                                                    const StoredValue& value)
{
    // The settings layer decodes texts as UTF-8 and writes back what it
    // decoded, so stored bytes that aren't UTF-8 come back as U+FFFD. What the
    // file held is kept before the first write that replaces it.
    const StoredValue* stored = contents_.value(keyPath, name);
    if (!stored || stored->kind != StoredKind::Text || *stored == value || isValidUtf8(stored->text)) return true;
    if (disk_ != Disk::Loaded || copyKept_) return true;
    const std::string what = "value \"" + name + "\" of key [" + keyPath + "] in " + file_.string() +
                             " is not valid UTF-8 text";
    std::string error;
    const auto copy = copyAside(error);
    if (!copy) {
        warn(what + " and no copy of the file could be kept (" + error + "), so it is not replaced; make " +
             directory_.string() + " writable for this user");
        return false;
    }
    copyKept_ = true;
    warn(what + "; it is replaced now, and the file as it was is kept as " + copy->string());
    return true;
}

bool FileRegistryStore::setValue(const std::string& keyPath, const std::string& name, const StoredValue& value)
{
    if (!StoreContents::canHoldKeyPath(keyPath) || !prepareWrite()) return false;
    if (!keepTextThatCannotBeDecoded(keyPath, name, value)) return false;
    // A value that is already stored as it is needs no new file.
    return commit(contents_.setValue(keyPath, name, value));
}

void FileRegistryStore::beginUpdate()
{
    refresh();
    updating_ = true;
    pendingWrite_ = false;
}

bool FileRegistryStore::endUpdate(bool keep)
{
    updating_ = false;
    if (!pendingWrite_) return true;
    pendingWrite_ = false;
    if (!keep) {
        forget();
        return true;
    }
    return commit(true);
}

bool FileRegistryStore::makeDirectory()
{
    // Create the missing tail of the path, as mkdir -p would, with 0700 so that
    // the settings of one user stay private to that user.
    std::filesystem::path failedAt;
    switch (makeDirectories(directory_, 0700, false, failedAt)) {
    case MadeDirectories::Made:
        return true;
    case MadeDirectories::NotADirectory:
        warn("cannot save settings: " + failedAt.string() + " is not a directory; move it away so that " +
             directory_.string() + " can be created");
        return false;
    case MadeDirectories::Failed:
        warn("cannot save settings: cannot create " + failedAt.string() + " (" + failedCall("mkdir", errno) +
             "); make its parent directory writable for this user");
        return false;
    }
    return false;
}

std::string FileRegistryStore::temporaryPrefix()
{
    // Host and pid namespace say where the writing pid means something: one
    // home may be shared over the network by several machines, or by a
    // sandboxed and an unsandboxed driver on one machine (a sandbox has its
    // own pids). Without the namespace nobody can tell a dead writer from a
    // live one, and no temporary file is ever removed as stale.
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::string tag = host;
    for (char& c : tag) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_') c = '_';
    }
    struct stat ns {};
    const unsigned long long pidNamespace = ::stat("/proc/self/ns/pid", &ns) == 0 ? ns.st_ino : 0;
    return std::string(kFileName) + kTemporaryInfix + tag + "-" + std::to_string(pidNamespace) + "-";
}

void FileRegistryStore::removeStaleTemporaries(const std::string& prefix)
{
    // A save killed before its rename leaves its temporary file behind. Only
    // files of this host and pid namespace whose writer has ended are stale;
    // any other may be a save in progress right now.
    if (temporariesChecked_) return;
    temporariesChecked_ = true;
    if (prefix.ends_with("-0-")) return;  // pid namespace unknown (the host part has no "-")
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory_.c_str()));
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        // <pid>-XXXXXX, as mkstemp fills it in.
        const std::string_view rest = name.substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == std::string_view::npos || rest.size() - dash - 1 != kTemporaryRandomChars) continue;
        pid_t pid = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + dash, pid);
        if (ec != std::errc() || end != rest.data() + dash || pid <= 0 || pid == ::getpid()) continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid()) {
            continue;
        }
        ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

bool FileRegistryStore::writeFile()
{
    if (file_.empty()) {
        warn("cannot save settings: neither XDG_CONFIG_HOME nor HOME is set to an absolute path; set HOME to "
             "the user's home directory");
        return false;
    }
    if (!folderIsPrivate() || !makeDirectory()) return false;
    const std::string prefix = temporaryPrefix();
    removeStaleTemporaries(prefix);

    auto cannotWrite = [this](const std::string& what) {
        warn("cannot save settings to " + file_.string() + " (" + what + "); make sure " + directory_.string() +
             " is writable for this user and the disk has free space");
        return false;
    };

    // Unique per writer, so that no other save can take or remove it.
    const std::string temporary = (directory_ / prefix).string() + std::to_string(::getpid()) + "-";
    if (const char* step = replaceFileWhole(file_, temporary, 0600, contents_.format())) {
        return cannotWrite(failedCall(step, errno));
    }

    struct stat st {};
    if (::stat(file_.c_str(), &st) == 0) {
        identity_ = identityOf(st);
        disk_ = Disk::Loaded;
    } else {
        forget();
    }
    lastWarning_.clear();
    return true;
}

void FileRegistryStore::reportUnusableValue(const std::string& keyPath, const std::string& name,
                                            const std::string& found)
{
    std::string line = "value \"" + name + "\" of key [" + keyPath + "] in " + file_.string() + " holds " + found +
                       "; the default is used instead and the next save replaces it";
    if (disk_ == Disk::Loaded && !copyKept_) {
        copyKept_ = true;
        std::string error;
        if (const auto copy = copyAside(error)) {
            line += " (the file as it was is kept as " + copy->string() + ")";
        } else {
            line += " (no copy of the file could be kept: " + error + ")";
        }
    }
    warn(line);
}

} // namespace oru
