// The checks the program makes before it creates anything.

#include "platform/linux/StartChecks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace oru {
namespace {

namespace fs = std::filesystem;

TEST(StartChecks, RootIsRefusedWithAnotherUsersHomeOrSettingsAndNothingIsMade)
{
    std::string pattern = (fs::temp_directory_path() / "oru-start-XXXXXX").string();
    const fs::path root = ::mkdtemp(pattern.data());
    // A home of someone other than root, whoever runs the test.
    const fs::path user = root / "user";
    fs::create_directory(user);
    if (::geteuid() == 0) ASSERT_EQ(::chown(user.c_str(), 65534, 65534), 0);
    const std::string userHome = user.string();

    struct Row {
        const char* name;
        uid_t effectiveUid;
        std::string home, configHome, cacheHome;
        bool refused;
    };
    const Row rows[] = {
        {"sudo with the user's HOME", 0, userHome, "", "", true},
        {"root's HOME, the user's XDG_CONFIG_HOME", 0, "/", userHome + "/.config", "", true},
        {"root's HOME, the user's XDG_CACHE_HOME", 0, "/", "", userHome + "/.cache", true},
        {"root with root's own folders", 0, "/", "", "", false},
        {"root without HOME", 0, "", "", "", false},
        {"a user in their own session", 1000, userHome, "", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto refusal = rootRunForAnotherUser(row.effectiveUid, row.home, row.configHome, row.cacheHome);
        EXPECT_EQ(refusal.has_value(), row.refused);
        if (refusal) {
            EXPECT_NE(refusal->find(userHome), std::string::npos) << *refusal;
            EXPECT_NE(refusal->find("70-oru-pen-tracker.rules"), std::string::npos) << *refusal;
        }
        EXPECT_TRUE(fs::is_empty(user)) << "the check made something";
    }
    fs::remove_all(root);
}

TEST(StartChecks, MissingGraphicalSessionIsNamedBeforeQtAborts)
{
    struct Row {
        const char* display;
        const char* waylandDisplay;
        const char* platform;
        const char* saysWhat;  // nullptr: the start goes on
    };
    const Row rows[] = {
        {"", "", "", "graphical session"},
        {":31999", "", "", "':31999'"},  // no X server there
        {"", "", "offscreen", nullptr},
        {"", "wayland-0", "", nullptr},
        {":31999", "wayland-0", "", nullptr},  // Wayland with an Xwayland started on demand
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.display) + "|" + row.waylandDisplay + "|" + row.platform);
        const auto refusal = missingGraphicalSession(row.display, row.waylandDisplay, row.platform);
        ASSERT_EQ(refusal.has_value(), row.saysWhat != nullptr);
        if (refusal) EXPECT_NE(refusal->find(row.saysWhat), std::string::npos) << *refusal;
    }
}

} // namespace
} // namespace oru
