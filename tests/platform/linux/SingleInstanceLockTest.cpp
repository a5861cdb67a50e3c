// The single-instance lock on a real file system: whatever the environment,
// a second lock of the same user is refused, and no lock file is reached
// through a link someone planted.

#include "platform/linux/SingleInstanceLock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace oru {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUid = 65534;  // nobody

struct Scratch {
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "oru-lock-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        fs::create_directories(root / "run");
        fs::permissions(root / "run", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(root / "home");
        fs::create_directories(root / "tmp");
        fs::permissions(root / "tmp", fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
    }
    ~Scratch() { fs::remove_all(root); }
    fs::path root;
    std::string tmpFolder() const { return (root / "tmp" / ("oruDriver-" + std::to_string(::geteuid()))).string(); }
    /// Stands for /run/user/<uid>, which the system makes at log-in.
    void makeUserRuntime() const
    {
        fs::create_directory(root / "user-run");
        fs::permissions(root / "user-run", fs::perms::owner_all, fs::perm_options::replace);
    }
    /// Another user's folder where this user's shared one goes (root only).
    void plantTmpFolder() const
    {
        fs::create_directory(tmpFolder());
        EXPECT_EQ(::chown(tmpFolder().c_str(), kOtherUid, kOtherUid), 0);
    }
};

struct Row {
    const char* name;
    std::function<LockEnvironment(const Scratch&)> arrange;
    std::string expectedLock;  // below the scratch root; empty: no place works
    bool saysWhy;              // a broken setting is named in problems()
    bool needsRoot = false;    // only root can give a folder to another user
};

LockEnvironment usual(const Scratch& s)
{
    // The user's runtime folder is missing (no login manager) unless a row makes it.
    return {(s.root / "run").string(), "", (s.root / "home").string(), (s.root / "user-run").string(),
            (s.root / "tmp").string()};
}
LockEnvironment withoutRuntime(const Scratch& s)
{
    LockEnvironment environment = usual(s);
    environment.runtimeDir.clear();
    return environment;
}
LockEnvironment withoutRuntimeOrCache(const Scratch& s)
{
    LockEnvironment environment = withoutRuntime(s);
    environment.home = "home";  // relative: no cache folder
    return environment;
}

const std::string kCacheLock = "home/.cache/oruDriver/oruDriver.lock";

TEST(SingleInstanceLock, SecondInstanceIsRefusedWhereverTheLockEndsUp)
{
    const std::string tmpLock = "tmp/oruDriver-" + std::to_string(::geteuid()) + "/oruDriver.lock";
    const Row rows[] = {
        {"private runtime directory", usual, "run/oruDriver.lock", false},
        {"runtime directory unset", withoutRuntime, kCacheLock, false},
        {"runtime directory relative",
         [](const Scratch& s) { auto e = usual(s); e.runtimeDir = "run"; return e; }, kCacheLock, true},
        {"runtime directory a regular file",
         [](const Scratch& s) {
             std::ofstream(s.root / "file") << "x";
             auto e = usual(s);
             e.runtimeDir = (s.root / "file").string();
             return e;
         },
         kCacheLock, true},
        {"runtime directory unwritable",
         [](const Scratch& s) { auto e = usual(s); e.runtimeDir = "/proc"; return e; }, kCacheLock, true},
        {"runtime directory writable by others",
         [](const Scratch& s) {
             fs::permissions(s.root / "run", fs::perms::all, fs::perm_options::replace);
             return usual(s);
         },
         kCacheLock, true},
        {"runtime directory of another user",
         [](const Scratch& s) {
             EXPECT_EQ(::chown((s.root / "run").c_str(), kOtherUid, kOtherUid), 0);
             return usual(s);
         },
         kCacheLock, true, true},
        {"runtime directory its group can write",
         [](const Scratch& s) {
             fs::permissions(s.root / "run", fs::perms::owner_all | fs::perms::group_all, fs::perm_options::replace);
             return usual(s);
         },
         kCacheLock, true},
        {"lock file with a second hard link",
         [](const Scratch& s) {
             std::ofstream(s.root / "run" / "oruDriver.lock") << "";
             fs::create_hard_link(s.root / "run" / "oruDriver.lock", s.root / "elsewhere.lock");
             return usual(s);
         },
         kCacheLock, true},
        {"lock file a symbolic link",
         [](const Scratch& s) {
             fs::create_symlink(s.root / "victim", s.root / "run" / "oruDriver.lock");
             return usual(s);
         },
         kCacheLock, true},
        {"XDG_CACHE_HOME",
         [](const Scratch& s) { auto e = withoutRuntime(s); e.cacheHome = (s.root / "xdg-cache").string(); return e; },
         "xdg-cache/oruDriver/oruDriver.lock", false},
        {"no cache folder", withoutRuntimeOrCache, tmpLock, true},
        {"cache folder a symbolic link",
         [](const Scratch& s) {
             fs::create_directories(s.root / "home" / ".cache");
             fs::create_directories(s.root / "elsewhere");
             fs::create_directory_symlink(s.root / "elsewhere", s.root / "home" / ".cache" / "oruDriver");
             return withoutRuntime(s);
         },
         tmpLock, true},
        {"shared folder open to everyone is made private",
         [](const Scratch& s) {
             fs::create_directory(s.tmpFolder());
             fs::permissions(s.tmpFolder(), fs::perms::all, fs::perm_options::replace);
             return withoutRuntimeOrCache(s);
         },
         tmpLock, true},
        {"shared folder its group can enter is made private",
         [](const Scratch& s) {
             fs::create_directory(s.tmpFolder());
             fs::permissions(s.tmpFolder(), fs::perms::owner_all | fs::perms::group_all, fs::perm_options::replace);
             return withoutRuntimeOrCache(s);
         },
         tmpLock, true},
        {"shared folder a symbolic link",
         [](const Scratch& s) {
             fs::create_directories(s.root / "elsewhere");
             fs::create_directory_symlink(s.root / "elsewhere", s.tmpFolder());
             return withoutRuntimeOrCache(s);
         },
         "", true},
        {"shared folder of another user",
         [](const Scratch& s) {
             s.plantTmpFolder();
             return withoutRuntimeOrCache(s);
         },
         "", true, true},
        {"nothing writable",
         [](const Scratch&) { return LockEnvironment{"/proc", "", "", "", "/proc"}; }, "", true},
        {"user's runtime folder without XDG_RUNTIME_DIR",
         [](const Scratch& s) { s.makeUserRuntime(); return withoutRuntimeOrCache(s); }, "user-run/oruDriver.lock",
         false},
        {"user's runtime folder another user can write to",
         [](const Scratch& s) {
             s.makeUserRuntime();
             fs::permissions(s.root / "user-run", fs::perms::all, fs::perm_options::replace);
             return withoutRuntime(s);
         },
         kCacheLock, true},
        {"shared folder of another user beside the user's runtime folder",
         [](const Scratch& s) {
             s.makeUserRuntime();
             s.plantTmpFolder();
             return withoutRuntimeOrCache(s);
         },
         "user-run/oruDriver.lock", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && ::geteuid() != 0) continue;  // can't give a folder away
        const Scratch scratch;
        const LockEnvironment environment = row.arrange(scratch);

        const SingleInstanceLock first("oruDriver", environment);
        const SingleInstanceLock second("oruDriver", environment);

        EXPECT_EQ(!first.problems().empty(), row.saysWhy);
        EXPECT_FALSE(fs::exists(scratch.root / "victim")) << "a link was followed";
        if (row.expectedLock.empty()) {
            EXPECT_EQ(first.state(), SingleInstanceLock::State::NoPlace);
            EXPECT_EQ(second.state(), SingleInstanceLock::State::NoPlace);
            continue;
        }
        const std::string expected = (scratch.root / row.expectedLock).string();
        EXPECT_EQ(first.state(), SingleInstanceLock::State::Acquired);
        EXPECT_EQ(first.path(), expected);
        EXPECT_EQ(second.state(), SingleInstanceLock::State::HeldByAnother);
        EXPECT_EQ(second.path(), expected);
        // A command finds the holder wherever the lock went, without taking it.
        const auto holder = SingleInstanceLock::holder("oruDriver", environment);
        ASSERT_TRUE(holder);
        EXPECT_EQ(holder->pid, ::getpid());
        struct stat folder {};
        ASSERT_EQ(::lstat(fs::path(expected).parent_path().c_str(), &folder), 0);
        if (row.expectedLock.find("run/") != 0) {
            EXPECT_EQ(folder.st_mode & 07777, 0700u);
        }
    }
}

TEST(SingleInstanceLock, InstancesStartedWithDifferentEnvironmentsFindEachOther)
{
    // A desktop session's instance and one started over ssh without
    // XDG_RUNTIME_DIR, in either order; with the user's runtime folder there
    // or not, and with another user's folder planted where the shared
    // temporary folder's lock goes.
    using Arrange = LockEnvironment (*)(const Scratch&);
    const struct {
        Arrange first, second;
        bool userRuntime;
        bool planted;
    } orders[] = {
        {usual, withoutRuntime, false, false},
        {withoutRuntime, usual, false, false},
        {usual, withoutRuntimeOrCache, false, false},
        {usual, withoutRuntime, true, false},
        {usual, withoutRuntime, true, true},
        {withoutRuntime, usual, true, true},
        {usual, withoutRuntimeOrCache, true, true},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(std::string(order.userRuntime ? "with" : "without") + " the user's runtime folder" +
                     (order.planted ? ", shared folder planted" : ""));
        if (order.planted && ::geteuid() != 0) continue;  // can't give a folder away
        const Scratch scratch;
        if (order.userRuntime) scratch.makeUserRuntime();
        if (order.planted) scratch.plantTmpFolder();
        const SingleInstanceLock first("oruDriver", order.first(scratch));
        const SingleInstanceLock second("oruDriver", order.second(scratch));
        EXPECT_EQ(first.state(), SingleInstanceLock::State::Acquired);
        EXPECT_EQ(second.state(), SingleInstanceLock::State::HeldByAnother);
        // The planted folder is named, whoever is left to say it.
        if (order.planted) {
            bool named = false;
            for (const auto& problem : first.problems()) named = named || problem.find(scratch.tmpFolder()) != std::string::npos;
            EXPECT_TRUE(named);
        }
    }
}

TEST(SingleInstanceLock, IsFreeAgainOnceItsHolderHasGone)
{
    const Scratch scratch;
    {
        SingleInstanceLock first("oruDriver", usual(scratch));
        ASSERT_EQ(first.state(), SingleInstanceLock::State::Acquired);
        first.note("no-session-bus");
        EXPECT_EQ(SingleInstanceLock::holder("oruDriver", usual(scratch))->note, "no-session-bus");
    }
    EXPECT_FALSE(SingleInstanceLock::holder("oruDriver", usual(scratch)));
    const SingleInstanceLock next("oruDriver", usual(scratch));
    EXPECT_EQ(next.state(), SingleInstanceLock::State::Acquired);
}

} // namespace
} // namespace oru
