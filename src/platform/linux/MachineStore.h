#pragma once

#include "settings/StoreContents.h"

#include <filesystem>
#include <string>
#include <vector>

namespace oru {

/// The folders that may hold the machine's store, in the order they are asked:
/// <dir>/oruDriver for each entry of XDG_CONFIG_DIRS (colon-separated), or
/// /etc/xdg/oruDriver when it is unset or empty. Relative and empty entries
/// are skipped, as XDG asks.
std::vector<std::filesystem::path> machineStoreDirectories(const char* xdgConfigDirs);

/// One store file as found on disk, read without changing anything: a damaged
/// file is neither renamed nor written, and nobody's ownership is checked.
struct StoreFileRead {
    enum class State {
        Missing,     // no such file
        Loaded,      // contents is the file
        Unreadable,  // it exists but can't be read; problem says why
        Damaged,     // it can't be parsed; problem says what is wrong
    };
    State state = State::Missing;
    StoreContents contents;
    std::string problem;
};
StoreFileRead readStoreFile(const std::filesystem::path& file);

/// Writes contents as <directory>/store.conf for every account to read: the
/// directory (and missing parents) made 0755, the file replaced whole through
/// a temporary file in the same directory (fsync, rename), mode 0644. header
/// leads the file (comment lines). False on failure, with the failing call in
/// error and its errno in errorNumber; the old file, if any, stays then.
bool writeStoreFileForAll(const std::filesystem::path& directory, const StoreContents& contents,
                          const std::string& header, std::string& error, int& errorNumber);

} // namespace oru
