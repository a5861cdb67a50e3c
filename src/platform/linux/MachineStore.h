#pragma once

#include "settings/StoreContents.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace oru {

/// The folders that may hold the machine's store, in the order they are asked:
/// <dir>/oruDriver for each entry of XDG_CONFIG_DIRS (colon-separated), or
/// /etc/xdg/oruDriver when it is unset or empty. Relative and empty entries
/// are skipped, as XDG asks.
std::vector<std::filesystem::path> machineStoreDirectories(const char* xdgConfigDirs);

/// One store file as found on disk, read without changing anything: a damaged
/// file is neither renamed nor written.
struct StoreFileRead {
    enum class State {
        Missing,     // no such file
        Loaded,      // contents is the file
        Unreadable,  // it exists but can't be read; problem says why
        Damaged,     // it can't be parsed; problem says what is wrong
        Untrusted,   // someone besides root could have written it; problem says who or how
    };
    State state = State::Missing;
    StoreContents contents;
    std::string problem;
    bool late = false;  // Unreadable: the reader with the user's rights did not finish in time
};

/// The store file at file, with this process's rights; nobody's ownership is checked.
StoreFileRead readStoreFile(const std::filesystem::path& file);

/// readStoreFile with the rights of the user uid (group gid and the user's
/// groups, as the password database names them for userName): a child process
/// takes them before it opens anything and hands the bytes back, so that root
/// reads only what that user could read, through the user's own links, and
/// nothing of a file the user could not read reaches a message.
StoreFileRead readStoreFileAsUser(const std::filesystem::path& file, uid_t uid, gid_t gid,
                                  const std::string& userName);

/// The machine's store, <directory>/store.conf, for every account to trust:
/// read only when the file (not a link) and directory belong to root, or to
/// this process's own user, and neither can be written by group or others.
/// Otherwise Untrusted, unread, with what is wrong in problem.
StoreFileRead readMachineStoreFile(const std::filesystem::path& directory);

/// What writeStoreFileForAll did.
struct MachineStoreWrite {
    enum class Outcome {
        Written,
        Refused,  // a link on the way, or a folder of another user: problem says which and what to do
        Failed,   // a call failed: problem is "where: call: cause", errorNumber its errno
    };
    Outcome outcome = Outcome::Failed;
    std::string problem;
    int errorNumber = 0;
    std::string repaired;  // Written: what was put right on the way (a folder's mode), else empty
};

/// Writes contents as <directory>/store.conf for every account to read: the
/// directory (and missing parents) made 0755, the file replaced whole through
/// a temporary file in the same directory (fsync, rename), mode 0644. header
/// leads the file (comment lines). No link on the path is followed, and the
/// directory must belong to this process's user (root) with no write bit for
/// group or others: such a folder of this user's loses those bits (repaired
/// says so), one of another user is refused. The old file, if any, stays
/// when it is not written.
MachineStoreWrite writeStoreFileForAll(const std::filesystem::path& directory, const StoreContents& contents,
                                       const std::string& header);

} // namespace oru
