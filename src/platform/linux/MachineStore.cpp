#include "platform/linux/MachineStore.h"

#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace oru {

namespace {

std::string failed(const char* call, int error)
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

// The file's text without the per-user header that StoreContents writes.
std::string withoutLeadingComments(const std::string& text)
{
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == '#') {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) return {};
        pos = end + 1;
    }
    return text.substr(pos);
}

} // namespace

std::vector<std::filesystem::path> machineStoreDirectories(const char* xdgConfigDirs)
{
    const std::string_view list = xdgConfigDirs && *xdgConfigDirs ? xdgConfigDirs : "/etc/xdg";
    std::vector<std::filesystem::path> directories;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view entry = list.substr(start, end - start);
        if (!entry.empty() && entry.front() == '/') directories.push_back(std::filesystem::path(entry) / "oruDriver");
        start = end + 1;
    }
    return directories;
}

StoreFileRead readStoreFile(const std::filesystem::path& file)
{
    StoreFileRead read;
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return read;
        read.state = StoreFileRead::State::Unreadable;
        read.problem = failed("open", error);
        return read;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        read.state = StoreFileRead::State::Unreadable;
        read.problem = "it is not a regular file";
        return read;
    }
    std::string bytes;
    char buffer[16384];
    while (bytes.size() <= FileRegistryStore::kMaxFileBytes) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            read.state = StoreFileRead::State::Unreadable;
            read.problem = failed("read", errno);
            return read;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    if (bytes.size() > FileRegistryStore::kMaxFileBytes) {
        read.state = StoreFileRead::State::Damaged;
        read.problem = "it is more than the 1 MiB a settings store can reach";
        return read;
    }
    auto parsed = StoreContents::parse(bytes, read.problem);
    if (!parsed) {
        read.state = StoreFileRead::State::Damaged;
        return read;
    }
    read.state = StoreFileRead::State::Loaded;
    read.contents = std::move(*parsed);
    read.problem.clear();
    return read;
}

bool writeStoreFileForAll(const std::filesystem::path& directory, const StoreContents& contents,
                          const std::string& header, std::string& error, int& errorNumber)
{
    const auto fail = [&](const std::string& where, const char* call) {
        errorNumber = errno;
        error = where + ": " + failed(call, errorNumber);
        return false;
    };
    std::filesystem::path partial;
    for (const auto& part : directory) {
        partial /= part;
        struct stat st {};
        if (::stat(partial.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) continue;
            errno = ENOTDIR;
            return fail(partial.string(), "mkdir");
        }
        if (::mkdir(partial.c_str(), 0755) == 0) {
            // The umask must not narrow what every account needs to read.
            ::chmod(partial.c_str(), 0755);
        } else if (errno != EEXIST) {
            return fail(partial.string(), "mkdir");
        }
    }

    const std::filesystem::path file = directory / FileRegistryStore::kFileName;
    std::string temporary = file.string() + ".tmp-" + std::to_string(::getpid()) + "-XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) return fail(directory.string(), "mkstemp");
    const std::string text = header + withoutLeadingComments(contents.format());
    const char* step = nullptr;
    if (::fchmod(fd.get(), 0644) != 0) step = "fchmod";
    else if (!writeAll(fd.get(), text)) step = "write";
    else if (::fsync(fd.get()) != 0) step = "fsync";
    else if (fd.close() != 0) step = "close";
    else if (::rename(temporary.c_str(), file.c_str()) != 0) step = "rename";
    if (step) {
        const int cause = errno;
        ::unlink(temporary.c_str());
        errno = cause;
        return fail(file.string(), step);
    }
    // The rename must reach the disk too, or a crash could bring back the old file.
    UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

} // namespace oru
