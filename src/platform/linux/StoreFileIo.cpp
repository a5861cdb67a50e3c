#include "platform/linux/StoreFileIo.h"

#include "platform/linux/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oru {

std::string failedCall(const char* call, int error)
{
    return std::string(call) + ": " + std::strerror(error);
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool readUpTo(int fd, std::size_t limit, std::string& bytes)
{
    bytes.clear();
    char buffer[16384];
    while (bytes.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

MadeDirectories makeDirectories(const std::filesystem::path& directory, mode_t mode, bool exactMode,
                                std::filesystem::path& failedAt)
{
    std::filesystem::path partial;
    for (const auto& part : directory) {
        partial /= part;
        failedAt = partial;
        struct stat st {};
        if (::stat(partial.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) continue;
            return MadeDirectories::NotADirectory;
        }
        if (::mkdir(partial.c_str(), mode) == 0) {
            if (exactMode) ::chmod(partial.c_str(), mode);
        } else if (errno != EEXIST) {
            return MadeDirectories::Failed;
        }
    }
    return MadeDirectories::Made;
}

const char* replaceFileWhole(const std::filesystem::path& file, const std::string& temporaryStem, mode_t mode,
                             const std::string& text)
{
    UniqueFd dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return "open";
    return replaceFileWholeAt(dir.get(), file.filename().string(),
                              std::filesystem::path(temporaryStem).filename().string(), mode, text);
}

const char* replaceFileWholeAt(int directoryFd, const std::string& name, const std::string& temporaryStem,
                               mode_t mode, const std::string& text)
{
    // mkstemp's six characters, made here since it has no form relative to a directory.
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string temporary;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
        unsigned char random[6];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return "getrandom";
        temporary = temporaryStem;
        for (const unsigned char r : random) temporary += kLetters[r % (sizeof kLetters - 1)];
        fd.reset(::openat(directoryFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0 && errno != EEXIST) return "mkstemp";
    }
    if (fd.get() < 0) return "mkstemp";
    const char* step = nullptr;
    if (::fchmod(fd.get(), mode) != 0) step = "fchmod";
    else if (!writeAll(fd.get(), text)) step = "write";
    else if (::fsync(fd.get()) != 0) step = "fsync";
    else if (fd.close() != 0) step = "close";
    else if (::renameat(directoryFd, temporary.c_str(), directoryFd, name.c_str()) != 0) step = "rename";
    if (step) {
        const int cause = errno;
        ::unlinkat(directoryFd, temporary.c_str(), 0);
        errno = cause;
        return step;
    }
    ::fsync(directoryFd);
    return nullptr;
}

} // namespace oru
