#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace oru {

// The file work the user's store and the machine's store share.

/// "call: <strerror(error)>", the cause part of an administrator's line.
std::string failedCall(const char* call, int error);

/// Writes all of bytes to fd, again after EINTR; false (errno set) on a failed write.
bool writeAll(int fd, std::string_view bytes);

/// Reads at most limit + 1 bytes into bytes, so that a file over the limit is
/// noticed without reading all of it; false (errno set) on a failed read.
bool readUpTo(int fd, std::size_t limit, std::string& bytes);

/// Makes directory and its missing parents, as mkdir -p would, each with
/// mode; with exactMode a made one is also set to mode whatever the umask.
/// NotADirectory: something else stands at failedAt; Failed: mkdir(2) failed
/// there (errno as it left it).
enum class MadeDirectories { Made, NotADirectory, Failed };
MadeDirectories makeDirectories(const std::filesystem::path& directory, mode_t mode, bool exactMode,
                                std::filesystem::path& failedAt);

/// Replaces file whole with text, so that a reader or a crash sees the old
/// file or the new one, never a part: a temporary file named temporaryStem
/// followed by six random characters (in file's directory) is given mode,
/// written, fsynced, closed and renamed over file; then the directory is
/// fsynced so that the rename reaches the disk too. Returns nullptr, or the
/// failing call's name with errno as it left it (the temporary is removed and
/// file stays as it was).
const char* replaceFileWhole(const std::filesystem::path& file, const std::string& temporaryStem, mode_t mode,
                             const std::string& text);

/// replaceFileWhole within the open directory directoryFd (not O_PATH): name
/// and temporaryStem are names in it, and no link is followed to make or
/// replace either (a link named name is replaced, not written through).
const char* replaceFileWholeAt(int directoryFd, const std::string& name, const std::string& temporaryStem,
                               mode_t mode, const std::string& text);

} // namespace oru
