#include "platform/linux/LinuxMachineCalibration.h"

#include "app/CalibrationChoice.h"
#include "platform/linux/FileRegistryStore.h"
#include "platform/linux/MachineStore.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace oru {

namespace {

constexpr const char* kSaveCommand = "sudo oru-driver --save-for-all-users";

void say(const std::string& line)
{
    std::fprintf(stderr, "oruDriver: %s\n", line.c_str());
}

struct InvokingUser {
    std::string name;
    std::filesystem::path storeDirectory;
    bool underSudo = false;  // root runs for this user, whose rights read the user's store
    uid_t uid = 0;
    gid_t gid = 0;
};

// The user whose calibration is saved: under sudo the one who ran it (sudo
// resets HOME to root's, so the home comes from the password database),
// otherwise this process's user with its own environment.
std::optional<InvokingUser> invokingUser(std::string& problem)
{
    const char* sudoUid = std::getenv("SUDO_UID");
    const char* sudoUser = std::getenv("SUDO_USER");
    if (::geteuid() == 0 && ((sudoUid && *sudoUid) || (sudoUser && *sudoUser))) {
        const passwd* entry = nullptr;
        uid_t uid = 0;
        if (sudoUid && *sudoUid) {
            const std::string_view text = sudoUid;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), uid);
            if (ec == std::errc() && end == text.data() + text.size()) entry = ::getpwuid(uid);
        }
        if (!entry && sudoUser && *sudoUser) entry = ::getpwnam(sudoUser);
        if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') {
            problem = "cannot find the home folder of the user who ran sudo (SUDO_UID '" +
                      std::string(sudoUid ? sudoUid : "") + "', SUDO_USER '" + std::string(sudoUser ? sudoUser : "") +
                      "'); run the command with sudo from that user's own session";
            return std::nullopt;
        }
        return InvokingUser{entry->pw_name, std::filesystem::path(entry->pw_dir) / ".config" / "oruDriver", true,
                            entry->pw_uid, entry->pw_gid};
    }
    const passwd* self = ::getpwuid(::geteuid());
    InvokingUser user{self ? self->pw_name : std::to_string(::geteuid()), FileRegistryStore::userStoreDirectory()};
    if (user.storeDirectory.empty()) {
        problem = "neither XDG_CONFIG_HOME nor HOME is set to an absolute path, so this user's settings can't be "
                  "found; set HOME to the user's home folder";
        return std::nullopt;
    }
    return user;
}

// What to do about a failed write of the machine's store, by its cause.
std::string writeFailureAdvice(int errorNumber, const std::filesystem::path& target)
{
    if (errorNumber == EROFS) {
        return "that file system is mounted read-only; remount it read-write, or put a writable folder first in "
               "XDG_CONFIG_DIRS";
    }
    if (errorNumber == EACCES || errorNumber == EPERM) {
        if (::geteuid() != 0) return "run it as root: " + std::string(kSaveCommand);
        return "even root may not write there: look for an immutable folder (lsattr -d " + target.string() +
               ") or a network file system that maps root to nobody, or put another folder first in "
               "XDG_CONFIG_DIRS";
    }
    return "make sure the disk has free space and " + target.string() + " is a folder";
}

} // namespace

std::optional<CalibrationTexts> loadMachineCalibration(const char* xdgConfigDirs)
{
    for (const auto& directory : machineStoreDirectories(xdgConfigDirs)) {
        const std::filesystem::path file = directory / FileRegistryStore::kFileName;
        const StoreFileRead read = readMachineStoreFile(directory);
        switch (read.state) {
        case StoreFileRead::State::Missing:
            continue;
        case StoreFileRead::State::Unreadable:
            say("cannot read the machine's calibration " + file.string() + " (" + read.problem +
                "); it is ignored. Make it readable for every account (sudo chmod 644 " + file.string() +
                ") or save it again: " + kSaveCommand);
            return std::nullopt;
        case StoreFileRead::State::Damaged:
            say("the machine's calibration " + file.string() + " is damaged (" + read.problem +
                "); it is ignored and left as it is. Save it again from a calibrated account: " + kSaveCommand);
            return std::nullopt;
        case StoreFileRead::State::Untrusted:
            say("the machine's calibration " + file.string() + " is not used, since only a store nobody but root "
                "could have written serves every account: " + read.problem +
                ". Save it again from a calibrated account: " + kSaveCommand);
            return std::nullopt;
        case StoreFileRead::State::Loaded:
            break;
        }
        std::string problem;
        auto texts = servingCalibrationIn(read.contents, problem);
        if (!problem.empty()) {
            say("the machine's calibration " + file.string() + " is not used: " + problem +
                ". Save it again from a calibrated account: " + kSaveCommand);
            return std::nullopt;
        }
        return texts;
    }
    return std::nullopt;
}

int saveCalibrationForAllUsers()
{
    const auto directories = machineStoreDirectories(std::getenv("XDG_CONFIG_DIRS"));
    if (directories.empty()) {
        say("XDG_CONFIG_DIRS holds no absolute folder, so there is no place for the machine's calibration; unset "
            "it (the default is /etc/xdg) and run: " + std::string(kSaveCommand));
        return 1;
    }
    std::string problem;
    const auto user = invokingUser(problem);
    if (!user) {
        say("nothing saved: " + problem);
        return 1;
    }

    const std::filesystem::path own = user->storeDirectory / FileRegistryStore::kFileName;
    // Under sudo with the user's rights: root must not read through the
    // user's links what the user could not (nor tell it in a message).
    const StoreFileRead read =
        user->underSudo ? readStoreFileAsUser(own, user->uid, user->gid, user->name) : readStoreFile(own);
    std::optional<CalibrationTexts> texts;
    switch (read.state) {
    case StoreFileRead::State::Missing:
        break;
    case StoreFileRead::State::Unreadable:
        if (read.late) {
            say("nothing saved: " + user->name + "'s settings " + own.string() + " could not be read in time (" +
                read.problem + "); run the command again, and keep " + user->name +
                "'s processes from being stopped meanwhile");
            return 1;
        }
        [[fallthrough]];
    case StoreFileRead::State::Untrusted:
        say("nothing saved: cannot read " + user->name + "'s settings " + own.string() +
            (user->underSudo ? " with " + user->name + "'s rights (" : " (") + read.problem + "); give the file to " +
            user->name + " (sudo chown " + user->name + ": " + own.string() + "; chmod 600 " + own.string() +
            "), or remove it if it is a link to a file that isn't " + user->name + "'s, and calibrate again");
        return 1;
    case StoreFileRead::State::Damaged:
        say("nothing saved: " + user->name + "'s settings " + own.string() + " are damaged (" + read.problem +
            "); start oru-driver as " + user->name + " once (it keeps the damaged file aside), calibrate, then run "
            "this again");
        return 1;
    case StoreFileRead::State::Loaded:
        texts = servingCalibrationIn(read.contents, problem);
        break;
    }
    if (!texts) {
        say(shareRefusal(user->name, own.string(), problem));
        return 1;
    }

    const std::filesystem::path& target = directories.front();
    const std::string header =
        "# oruDriver: the machine's calibration, used by every account that has not calibrated itself.\n"
        "# Written by: " + std::string(kSaveCommand) + "\n";
    const MachineStoreWrite written = writeStoreFileForAll(target, calibrationStore(*texts), header);
    switch (written.outcome) {
    case MachineStoreWrite::Outcome::Written:
        break;
    case MachineStoreWrite::Outcome::Refused:
        say("nothing saved: " + written.problem);
        return 1;
    case MachineStoreWrite::Outcome::Failed:
        say("nothing saved: cannot write the machine's calibration into " + target.string() + " (" +
            written.problem + "); " + writeFailureAdvice(written.errorNumber, target));
        return 1;
    }
    if (!written.repaired.empty()) say(written.repaired);
    const std::string saved = user->name + "'s calibration is saved for every account on this machine in " +
                              (target / FileRegistryStore::kFileName).string();
    if (std::printf("oruDriver: %s\n", saved.c_str()) < 0 || std::fflush(stdout) != 0) {
        // The save stands; only its line was lost (a full disk, a closed pipe).
        const int error = errno;
        say(saved + ", but this could not be written to standard output (" + std::strerror(error) + ")");
        return 1;
    }
    return 0;
}

} // namespace oru
