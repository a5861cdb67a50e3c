#include "platform/linux/MachineStore.h"

#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/StoreFileIo.h"
#include "platform/linux/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace oru {

namespace {

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
        read.problem = failedCall("open", error);
        return read;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        read.state = StoreFileRead::State::Unreadable;
        read.problem = "it is not a regular file";
        return read;
    }
    std::string bytes;
    if (!readUpTo(fd.get(), FileRegistryStore::kMaxFileBytes, bytes)) {
        read.state = StoreFileRead::State::Unreadable;
        read.problem = failedCall("read", errno);
        return read;
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
        error = where + ": " + failedCall(call, errorNumber);
        return false;
    };
    // The umask must not narrow what every account needs to read.
    std::filesystem::path failedAt;
    const MadeDirectories made = makeDirectories(directory, 0755, true, failedAt);
    if (made == MadeDirectories::NotADirectory) errno = ENOTDIR;
    if (made != MadeDirectories::Made) return fail(failedAt.string(), "mkdir");

    const std::filesystem::path file = directory / FileRegistryStore::kFileName;
    const std::string temporary = file.string() + ".tmp-" + std::to_string(::getpid()) + "-";
    const std::string text = header + withoutLeadingComments(contents.format());
    if (const char* step = replaceFileWhole(file, temporary, 0644, text)) {
        return fail(std::string(step) == "mkstemp" ? directory.string() : file.string(), step);
    }
    return true;
}

} // namespace oru
