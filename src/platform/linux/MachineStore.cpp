#include "platform/linux/MachineStore.h"

#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/StoreFileIo.h"
#include "platform/linux/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace oru {

namespace {

// How long the reader with the user's rights may take: a store of at most
// 1 MiB is read and parsed in milliseconds.
constexpr int kUserReaderBoundMs = 5000;

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

std::string userName(uid_t uid)
{
    if (const passwd* entry = ::getpwuid(uid)) return entry->pw_name;
    return "uid " + std::to_string(uid);
}

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The bytes of a store file as its reader got them; state Loaded means bytes
// holds them (parsed by parsedRead), any other state says why not.
struct StoreBytes {
    StoreFileRead::State state = StoreFileRead::State::Loaded;
    std::string problem;
    std::string bytes;
};

StoreBytes openFailed(int error)
{
    if (error == ENOENT || error == ENOTDIR) return {StoreFileRead::State::Missing, {}, {}};
    return {StoreFileRead::State::Unreadable, failedCall("open", error), {}};
}

StoreBytes bytesOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return {StoreFileRead::State::Unreadable, "it is not a regular file", {}};
    }
    StoreBytes read;
    if (!readUpTo(fd, FileRegistryStore::kMaxFileBytes, read.bytes)) {
        return {StoreFileRead::State::Unreadable, failedCall("read", errno), {}};
    }
    return read;
}

StoreBytes bytesAt(const std::filesystem::path& file)
{
    // Nonblocking: a FIFO put in the store's place must not hang the open.
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return openFailed(errno);
    return bytesOf(fd.get());
}

StoreFileRead parsedRead(StoreBytes raw)
{
    StoreFileRead read;
    read.state = raw.state;
    read.problem = std::move(raw.problem);
    if (raw.state != StoreFileRead::State::Loaded) return read;
    if (raw.bytes.size() > FileRegistryStore::kMaxFileBytes) {
        read.state = StoreFileRead::State::Damaged;
        read.problem = "it is more than the 1 MiB a settings store can reach";
        return read;
    }
    auto parsed = StoreContents::parse(raw.bytes, read.problem);
    if (!parsed) {
        read.state = StoreFileRead::State::Damaged;
        return read;
    }
    read.contents = std::move(*parsed);
    read.problem.clear();
    return read;
}

// Why a file or folder of the machine's store can't be trusted: only root
// (and this process's user, for its own) may have written it.
std::string writableByOthers(const struct stat& st)
{
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) return "belongs to user " + userName(st.st_uid) + ", not to root";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return "can be written by other users (mode " + modeText(st.st_mode) + ")";
    return {};
}

// What the reading child hands back: state, problem's length, problem, bytes.
struct ChildHeader {
    std::int32_t state;
    std::uint32_t problemBytes;
};

[[noreturn]] void readAsUserInChild(int out, const std::filesystem::path& file, uid_t uid, gid_t gid,
                                    const std::string& name)
{
    StoreBytes read;
    // Groups first: once the user id is the user's, they can't be changed.
    if (::initgroups(name.c_str(), gid) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0 ||
        ::geteuid() != uid) {
        read = {StoreFileRead::State::Unreadable, "could not take the user's rights to read it: " +
                                                      failedCall("setresuid", errno), {}};
    } else {
        read = bytesAt(file);
    }
    const ChildHeader header{static_cast<std::int32_t>(read.state), static_cast<std::uint32_t>(read.problem.size())};
    const bool sent = writeAll(out, std::string_view(reinterpret_cast<const char*>(&header), sizeof header)) &&
                      writeAll(out, read.problem) && writeAll(out, read.bytes);
    ::_exit(sent ? 0 : 1);
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
    return parsedRead(bytesAt(file));
}

StoreFileRead readStoreFileAsUser(const std::filesystem::path& file, uid_t uid, gid_t gid,
                                  const std::string& userName)
{
    const auto unreadable = [](const std::string& why) {
        StoreFileRead read;
        read.state = StoreFileRead::State::Unreadable;
        read.problem = why;
        return read;
    };
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return unreadable(failedCall("pipe", errno));
    UniqueFd in(ends[0]);
    UniqueFd out(ends[1]);
    // Only this thread runs (the administrator's command starts none), so the
    // child may do anything before it ends.
    const pid_t child = ::fork();
    if (child < 0) return unreadable(failedCall("fork", errno));
    if (child == 0) {
        in.reset();
        readAsUserInChild(out.get(), file, uid, gid, userName);
    }
    out.reset();
    // Room for all the child sends (the problem is a line), so that it never
    // waits on a full pipe. The child runs with the user's rights, so the
    // user may stop it (SIGSTOP): the wait for it is bounded, then it is ended.
    const std::size_t limit = sizeof(ChildHeader) + 4096 + FileRegistryStore::kMaxFileBytes + 16384;
    std::string message;
    bool received = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kUserReaderBoundMs);
    for (char chunk[16384]; message.size() <= limit;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{in.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
            StoreFileRead late = unreadable("the process reading it with the user's rights did not finish within " +
                                            std::to_string(kUserReaderBoundMs / 1000) +
                                            " s and was ended (it may have been stopped)");
            late.late = true;
            return late;
        }
        const ssize_t got = polled < 0 ? -1 : ::read(in.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            received = got == 0;
            break;
        }
        message.append(chunk, static_cast<std::size_t>(got));
    }
    in.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ChildHeader header{};
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || message.size() < sizeof header) {
        return unreadable("the process reading it with the user's rights failed");
    }
    std::memcpy(&header, message.data(), sizeof header);
    if (header.problemBytes > message.size() - sizeof header) {
        return unreadable("the process reading it with the user's rights failed");
    }
    StoreBytes read;
    read.state = static_cast<StoreFileRead::State>(header.state);
    read.problem = message.substr(sizeof header, header.problemBytes);
    read.bytes = message.substr(sizeof header + header.problemBytes);
    return parsedRead(std::move(read));
}

StoreFileRead readMachineStoreFile(const std::filesystem::path& directory)
{
    // Only a place to open the file from and to ask its owner: a folder that
    // may be searched but not listed (0711) serves as well.
    UniqueFd folder(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return {};
        return parsedRead(
            {StoreFileRead::State::Unreadable, directory.string() + ": " + failedCall("open", error), {}});
    }
    UniqueFd fd(::openat(folder.get(), FileRegistryStore::kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 && errno == ELOOP) {
        return parsedRead({StoreFileRead::State::Untrusted, "it is a symbolic link, which is not followed", {}});
    }
    if (fd.get() < 0) return parsedRead(openFailed(errno));
    struct stat st {};
    if (::fstat(folder.get(), &st) == 0) {
        if (const std::string why = writableByOthers(st); !why.empty()) {
            return parsedRead({StoreFileRead::State::Untrusted, "its folder " + why, {}});
        }
    }
    if (::fstat(fd.get(), &st) == 0) {
        if (const std::string why = writableByOthers(st); !why.empty()) {
            return parsedRead({StoreFileRead::State::Untrusted, "it " + why, {}});
        }
    }
    return parsedRead(bytesOf(fd.get()));
}

MachineStoreWrite writeStoreFileForAll(const std::filesystem::path& directory, const StoreContents& contents,
                                       const std::string& header)
{
    MachineStoreWrite result;
    const auto fail = [&](const std::filesystem::path& where, const char* call, int error) {
        result.outcome = MachineStoreWrite::Outcome::Failed;
        result.errorNumber = error;
        result.problem = where.string() + ": " + failedCall(call, error);
        return result;
    };
    const auto refuse = [&](const std::string& why) {
        result.outcome = MachineStoreWrite::Outcome::Refused;
        result.problem = why;
        return result;
    };

    // From the root down, one folder at a time and never through a link:
    // whoever can write a folder on the way could otherwise send root's
    // write anywhere. Missing folders are made 0755 whatever the umask, so
    // that every account can read the store.
    UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return fail("/", "open", errno);
    std::vector<std::filesystem::path> parts;
    for (const auto& part : directory.relative_path()) {
        if (!part.empty()) parts.push_back(part);
    }
    std::filesystem::path walked = "/";
    bool made = false;
    struct stat st {};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::filesystem::path& part = parts[i];
        walked /= part;
        const bool last = i + 1 == parts.size();
        // The folder itself is opened for reading (fchmod, fsync); those on the way only as places.
        const int how = (last ? O_RDONLY | O_NONBLOCK : O_PATH) | O_NOFOLLOW | O_CLOEXEC;
        UniqueFd next(::openat(folder.get(), part.c_str(), how));
        made = false;
        if (next.get() < 0 && errno == ENOENT) {
            if (::mkdirat(folder.get(), part.c_str(), 0755) != 0 && errno != EEXIST) {
                return fail(walked, "mkdir", errno);
            }
            made = true;
            next.reset(::openat(folder.get(), part.c_str(), how));
        }
        // A link is refused: O_PATH opens the link itself, a folder's open fails on it.
        const bool link = next.get() < 0 ? errno == ELOOP : ::fstat(next.get(), &st) == 0 && S_ISLNK(st.st_mode);
        if (link) {
            return refuse(walked.string() + " is a symbolic link, and the machine's calibration is not written "
                                            "through links (another user may have made it); put the folder it "
                                            "should go to, without links (readlink -f " +
                          walked.string() + "), first in XDG_CONFIG_DIRS");
        }
        if (next.get() < 0) return fail(walked, "open", errno);
        if (::fstat(next.get(), &st) != 0) return fail(walked, "stat", errno);
        if (!S_ISDIR(st.st_mode)) return fail(walked, "mkdir", ENOTDIR);
        if (made && last && ::fchmod(next.get(), 0755) != 0) return fail(walked, "chmod", errno);
        if (made && !last) ::fchmodat(folder.get(), part.c_str(), 0755, AT_SYMLINK_NOFOLLOW);
        folder = std::move(next);
    }
    if (!made) {
        if (st.st_uid != ::geteuid()) {
            return refuse("the folder " + directory.string() + " belongs to user " + userName(st.st_uid) +
                          ", who could change the machine's calibration in it; remove it (sudo rm -r " +
                          directory.string() + ") and run this again");
        }
        if (st.st_mode & (S_IWGRP | S_IWOTH)) {
            const mode_t mode = st.st_mode & 07777 & ~mode_t(S_IWGRP | S_IWOTH);
            if (::fchmod(folder.get(), mode) != 0) return fail(directory, "chmod", errno);
            result.repaired = "the folder " + directory.string() + " could be written by other users (mode " +
                              modeText(st.st_mode) + "); it was set to " + modeText(mode);
        }
    }

    const std::string temporary =
        std::string(FileRegistryStore::kFileName) + ".tmp-" + std::to_string(::getpid()) + "-";
    const std::string text = header + withoutLeadingComments(contents.format());
    if (const char* step = replaceFileWholeAt(folder.get(), FileRegistryStore::kFileName, temporary, 0644, text)) {
        const int error = errno;
        return fail(std::string(step) == "mkstemp" ? directory : directory / FileRegistryStore::kFileName, step,
                    error);
    }
    result.outcome = MachineStoreWrite::Outcome::Written;
    return result;
}

} // namespace oru
