#include "platform/linux/FileRegistryStore.h"

#include "settings/AppRegistryStorage.h"
#include "settings/StoreContents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace oru {
namespace {

namespace fs = std::filesystem;

const std::string kKey = R"(Software\oruDriver)";
const std::string kEdit1 = kKey + R"(\Edit1_Text)";
const std::string kFlags = kKey + R"(\\Flags)";

std::string readBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void writeBytes(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<fs::path> filesContaining(const fs::path& dir, const std::string& infix)
{
    std::vector<fs::path> found;
    if (!fs::exists(dir)) return found;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().find(infix) != std::string::npos) found.push_back(entry.path());
    }
    return found;
}

std::string errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EAppStorageError& error) {
        return error.what();
    }
    return "no error";
}

/// Runs body in a child process, as an ordinary user when the tests run as
/// root (root ignores file permissions). body returns "" on success or what
/// went wrong; so does runInChild.
std::string runInChild(const std::function<std::string()>& body, bool unprivileged)
{
    int channel[2];
    if (::pipe(channel) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(channel[0]);
        std::string result;
        if (unprivileged && ::geteuid() == 0 && (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)) {
            result = "cannot drop root privileges";
        } else {
            result = body();
        }
        if (!result.empty() && ::write(channel[1], result.data(), result.size()) < 0) ::_exit(2);
        ::_exit(result.empty() ? 0 : 1);
    }
    ::close(channel[1]);
    std::string result;
    char buffer[512];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return "child ended by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0 && result.empty()) return "child failed";
    return result;
}

#define CHILD_EXPECT(condition)                                                       \
    do {                                                                              \
        if (!(condition)) return std::string("line ") + std::to_string(__LINE__) + ": " #condition; \
    } while (0)

class StoreFile : public testing::Test {
protected:
    void SetUp() override
    {
        // Folders the tests make are 0755, as on a default account: not writable by others.
        ::umask(022);
        char pattern[] = "/tmp/oru-store-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        base_ = pattern;
        dir_ = FileRegistryStore::storeDirectoryFor((base_ / "config").c_str(), nullptr);
        file_ = dir_ / "store.conf";
    }
    void TearDown() override
    {
        // Undo what the permission tests did, then clean up.
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, ignored);
        fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write, ignored);
        fs::remove_all(base_);
    }

    fs::path base_;
    fs::path dir_;
    fs::path file_;
};

struct LocationCase {
    const char* xdgConfigHome;
    const char* home;
    const char* directory;
};

TEST(FileRegistryStoreLocation, FollowsXdgConfigHomeThenHome)
{
    const LocationCase rows[] = {
        {"/x/cfg", "/home/u", "/x/cfg/oruDriver"},
        {nullptr, "/home/u", "/home/u/.config/oruDriver"},
        {"", "/home/u", "/home/u/.config/oruDriver"},
        {"relative/cfg", "/home/u", "/home/u/.config/oruDriver"},  // XDG: relative values are ignored
        {nullptr, nullptr, ""},
        {nullptr, "", ""},
        {"relative", "relative", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FileRegistryStore::storeDirectoryFor(row.xdgConfigHome, row.home), fs::path(row.directory))
            << (row.xdgConfigHome ? row.xdgConfigHome : "(unset)") << " / " << (row.home ? row.home : "(unset)");
    }
}

TEST_F(StoreFile, WritesAPrivateReadableFileThatReadsBackTheSame)
{
    const std::string tricky =
        "quote\" backslash\\ line\nfeed car\rriage tab\t bell\x07 esc\x1B del\x7F nul" + std::string(1, '\0') + " Çıkış";
    {
        FileRegistryStore store(dir_);
        TAppRegistryStorage storage(store);
        storage.WriteNumber(kFlags, -5);
        storage.WriteText(kEdit1, tricky);
        storage.WriteText(kKey + R"(\NormPos(1024x768))", "10,20,149,167");
    }
    EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    const std::string bytes = readBytes(file_);
    EXPECT_NE(bytes.find("\n[Software\\oruDriver]\n"
                         "\"Flags\" = int -5\n"
                         "\"Edit1_Text\" = text \"quote\\\" backslash\\\\ line\\nfeed car\\rriage tab\\t bell\\x07 esc\\x1B "
                         "del\\x7F nul\\x00 "
                         "Çıkış\"\n"
                         "\"NormPos(1024x768)\" = text \"10,20,149,167\"\n"),
              std::string::npos)
        << bytes;

    FileRegistryStore again(dir_);
    TAppRegistryStorage storage(again);
    EXPECT_EQ(storage.ReadNumber(kFlags, 0), -5);
    EXPECT_EQ(storage.ReadText(kEdit1, ""), tricky);
}

TEST_F(StoreFile, TakesHandEditedFilesWithCommentsBlanksCrLfAndOtherLetterCase)
{
    writeBytes(file_, "# edited by hand\r\n"
                      "\r\n"
                      "  [software\\ORUDRIVER]  \r\n"
                      "\t\"flags\"=int   7  \r\n"
                      "   # a comment between values\n"
                      "\"EDIT1_TEXT\" = text \"1234\"\n");
    FileRegistryStore store(dir_);
    TAppRegistryStorage storage(store);
    EXPECT_EQ(storage.ReadNumber(kFlags, 0), 7);
    EXPECT_EQ(storage.ReadText(kEdit1, "0"), "1234");

    // A save replaces the value and keeps the names as the user spelled them.
    storage.WriteText(kEdit1, "99");
    const std::string bytes = readBytes(file_);
    EXPECT_NE(bytes.find("[software\\ORUDRIVER]\n\"flags\" = int 7\n\"EDIT1_TEXT\" = text \"99\"\n"), std::string::npos)
        << bytes;
}

TEST_F(StoreFile, ValuesOfTheOtherKindFollowTheReadRules)
{
    const std::string original = "[Software\\oruDriver]\n"
                                 "\"Flags\" = text \"7\"\n"
                                 "\"PixelsPerInch\" = text \"ninety-six\"\n"
                                 "\"Edit1_Text\" = int 5\n";
    writeBytes(file_, original);
    FileRegistryStore store(dir_);
    TAppRegistryStorage storage(store);

    testing::internal::CaptureStderr();
    EXPECT_EQ(storage.ReadNumber(kFlags, 0), 7);
    EXPECT_EQ(storage.ReadNumber(kKey + R"(\PixelsPerInch)", 96), 96);
    EXPECT_EQ(storage.ReadText(kEdit1, "0"), "0");
    const std::string said = testing::internal::GetCapturedStderr();

    EXPECT_NE(said.find("\"PixelsPerInch\""), std::string::npos) << said;
    EXPECT_NE(said.find("\"Edit1_Text\""), std::string::npos) << said;
    // The hand edit survives the save that replaces it: one copy per file.
    const auto copies = filesContaining(dir_, ".damaged-");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readBytes(copies[0]), original);
    EXPECT_EQ(readBytes(file_), original);
    // A later start that meets it again, before any save: still one copy.
    testing::internal::CaptureStderr();
    FileRegistryStore(dir_).queryValue(kKey, "Edit1_Text");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(filesContaining(dir_, ".damaged-").size(), 1u);
}

TEST_F(StoreFile, AStoreOfExactlyItsSizeLimitIsRead)
{
    std::string bytes = "[Software\\oruDriver]\n\"Edit1_Text\" = text \"42\"\n";
    while (bytes.size() + 64 < FileRegistryStore::kMaxFileBytes) bytes += "# " + std::string(61, '.') + "\n";
    bytes += "#" + std::string(FileRegistryStore::kMaxFileBytes - bytes.size() - 2, '.') + "\n";
    ASSERT_EQ(bytes.size(), FileRegistryStore::kMaxFileBytes);
    writeBytes(file_, bytes);
    EXPECT_EQ(FileRegistryStore(dir_).queryValue(kKey, "Edit1_Text"), StoredValue::ofText("42"));
}

TEST_F(StoreFile, DamageKeptWithinOneSecondNeverReplacesAnEarlierCopy)
{
    // Copies of other damage named for this second and the next four.
    std::vector<std::pair<fs::path, std::string>> earlier;
    for (int second = 0; second < 5; ++second) {
        const std::time_t at = std::time(nullptr) + second;
        std::tm utc{};
        char stamp[32] = "";
        ::gmtime_r(&at, &utc);
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
        earlier.emplace_back(file_.string() + ".damaged-" + stamp, "earlier damage " + std::to_string(second));
        writeBytes(earlier.back().first, earlier.back().second);
    }
    testing::internal::CaptureStderr();
    writeBytes(file_, "[Software\\oruDriver]\n\"Edit1_Text\" = int 5\n");  // copied aside
    FileRegistryStore store(dir_);
    TAppRegistryStorage(store).ReadText(kEdit1, "0");
    writeBytes(file_, "garbage");  // moved aside
    TAppRegistryStorage(store).ReadText(kEdit1, "0");
    testing::internal::GetCapturedStderr();
    for (const auto& [path, bytes] : earlier) EXPECT_EQ(readBytes(path), bytes) << path;
    EXPECT_EQ(filesContaining(dir_, ".damaged-").size(), earlier.size() + 2);
}

struct DamageCase {
    const char* what;
    std::string bytes;
};

void PrintTo(const DamageCase& row, std::ostream* out)
{
    *out << row.what;
}

std::string garbage(std::size_t size, bool withNul)
{
    std::mt19937 random(12345);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() % 256);
        if (!withNul && c == '\0') c = '\x01';
    }
    return bytes;
}

std::string oversize()
{
    std::string bytes = "[Software\\oruDriver]\n";
    while (bytes.size() <= FileRegistryStore::kMaxFileBytes) bytes += "# padding padding padding padding padding\n";
    return bytes + "\"Edit1_Text\" = text \"1\"\n";
}

class DamagedStoreTable : public StoreFile, public testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedStoreTable, IsKeptAsideAndSettingsStartFromDefaults)
{
    const std::string damaged = GetParam().bytes;
    writeBytes(file_, damaged);
    FileRegistryStore store(dir_);
    TAppRegistryStorage storage(store);

    testing::internal::CaptureStderr();
    EXPECT_EQ(storage.ReadText(kEdit1, "0"), "0");
    EXPECT_FALSE(storage.HasValue(kEdit1));
    const std::string said = testing::internal::GetCapturedStderr();

    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find(file_.string() + " is damaged"), std::string::npos) << said;
    const auto aside = filesContaining(dir_, "store.conf.damaged-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readBytes(aside[0]), damaged);
    EXPECT_FALSE(fs::exists(file_));
    // The same damage met again (the file put back): one copy, the newest.
    writeBytes(file_, damaged);
    testing::internal::CaptureStderr();
    FileRegistryStore(dir_).queryValue(kKey, "Edit1_Text");
    testing::internal::GetCapturedStderr();
    const auto kept = filesContaining(dir_, "store.conf.damaged-");
    EXPECT_EQ(kept.size(), 1u);

    storage.WriteText(kEdit1, "5");
    EXPECT_EQ(FileRegistryStore(dir_).queryValue(kKey, "Edit1_Text"), StoredValue::ofText("5"));
    EXPECT_EQ(filesContaining(dir_, "store.conf.damaged-"), kept);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DamagedStoreTable,
    testing::Values(DamageCase{"cut_inside_a_text", "[Software\\oruDriver]\n\"Edit1_Text\" = text \"12"},
                    DamageCase{"cut_after_a_number", "[Software\\oruDriver]\n\"Flags\" = int 1"},
                    DamageCase{"empty", ""},
                    DamageCase{"binary_garbage", garbage(4096, true)},
                    DamageCase{"garbage_without_nul", garbage(4096, false) + "\n"},
                    DamageCase{"over_1_MiB", oversize()},
                    DamageCase{"unknown_kind", "[Software\\oruDriver]\n\"Flags\" = qword 5\n"},
                    DamageCase{"number_beyond_32_bits", "[Software\\oruDriver]\n\"Flags\" = int 4294967296\n"},
                    DamageCase{"value_before_key", "\"Flags\" = int 1\n[Software\\oruDriver]\n"},
                    DamageCase{"value_twice", "[Software\\oruDriver]\n\"Flags\" = int 1\n\"FLAGS\" = int 2\n"},
                    DamageCase{"bad_escape", "[Software\\oruDriver]\n\"Edit1_Text\" = text \"\\q\"\n"},
                    DamageCase{"unquoted_name", "[Software\\oruDriver]\nFlags = int 1\n"}),
    [](const auto& info) { return std::string(info.param.what); });

struct LargeStoreCase {
    const char* what;
    int keys;
    int valuesPerKey;
    const char* tail;     // appended after the generated lines
    const char* problem;  // "" when the file must parse
};

// Files near the 1 MiB limit: the reader must find every name, notice a name
// given twice (in other letter case) at the very end, and write the file back
// in its own order.
TEST(StoreContentsLarge, FindsEveryNameAndEveryRepeatInANearlyFullFile)
{
    const LargeStoreCase rows[] = {
        {"many keys", 60000, 0, "", ""},
        {"many values in one key", 1, 40000, "", ""},
        {"a key repeated last", 60000, 0, "[k1\\SUB]\n", "key [k1\\SUB] appears twice"},
        {"a value repeated last", 1, 40000, "\"v7\" = int 0\n", "value \"v7\" appears twice"},
    };
    for (const auto& row : rows) {
        std::string text;
        for (int k = 0; k < row.keys; ++k) {
            text += "[K" + std::to_string(k) + "\\Sub]\n";
            for (int v = 0; v < row.valuesPerKey; ++v) text += "\"V" + std::to_string(v) + "\" = int " + std::to_string(v) + "\n";
        }
        text += row.tail;
        ASSERT_LE(text.size(), FileRegistryStore::kMaxFileBytes) << row.what;
        const long lines = std::count(text.begin(), text.end(), '\n');

        std::string problem;
        const auto contents = StoreContents::parse(text, problem);
        if (*row.problem) {
            EXPECT_FALSE(contents) << row.what;
            EXPECT_EQ(problem, "line " + std::to_string(lines) + ": " + row.problem) << row.what;
            continue;
        }
        ASSERT_TRUE(contents) << row.what << ": " << problem;
        ASSERT_EQ(contents->keys().size(), static_cast<std::size_t>(row.keys)) << row.what;
        int missing = 0;
        for (int k = 0; k < row.keys; ++k) {
            const std::string key = "k" + std::to_string(k);
            missing += !contents->keyExists(key) + !contents->keyExists(key + "\\sub");
            for (int v = 0; v < row.valuesPerKey; ++v) {
                const StoredValue* value = contents->value(key + "\\SUB", "v" + std::to_string(v));
                missing += !value || *value != StoredValue::ofNumber(v);
            }
        }
        EXPECT_EQ(missing, 0) << row.what;
        EXPECT_FALSE(contents->keyExists("K1\\Su")) << row.what;
        EXPECT_FALSE(contents->keyExists("K")) << row.what;
        EXPECT_EQ(contents->value("K0\\Sub", "V" + std::to_string(row.valuesPerKey)), nullptr) << row.what;
        // The written file, less its header comment and blank lines, is the file read.
        std::istringstream written(contents->format());
        std::string kept;
        for (std::string line; std::getline(written, line);) {
            if (!line.empty() && line[0] != '#') kept += line + "\n";
        }
        EXPECT_EQ(kept, text) << row.what;
    }
}

TEST_F(StoreFile, FileChangedOnDiskIsReadAgain)
{
    FileRegistryStore store(dir_);
    TAppRegistryStorage storage(store);
    storage.WriteText(kEdit1, "1");
    writeBytes(file_, "[Software\\oruDriver]\n\"Edit1_Text\" = text \"2\"\n");
    EXPECT_EQ(storage.ReadText(kEdit1, "0"), "2");
    fs::remove(file_);
    EXPECT_EQ(storage.ReadText(kEdit1, "0"), "0");
}

TEST_F(StoreFile, WithoutHomeTheSaveRaisesAndReadsGiveDefaults)
{
    FileRegistryStore store(FileRegistryStore::storeDirectoryFor(nullptr, nullptr));
    TAppRegistryStorage storage(store);
    EXPECT_EQ(storage.ReadText(kEdit1, "0"), "0");

    testing::internal::CaptureStderr();
    EXPECT_EQ(errorOf([&] { storage.WriteText(kEdit1, "1"); }), "Unable to create key 'Software\\oruDriver'");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("HOME"), std::string::npos) << said;
}

TEST_F(StoreFile, FullDiskLeavesTheOldFileAndRaises)
{
    {
        FileRegistryStore store(dir_);
        TAppRegistryStorage(store).WriteText(kEdit1, "old");
    }
    const std::string before = readBytes(file_);
    const std::string failure = runInChild(
        [&] {
            // A file size limit makes write(2) fail with EFBIG as a full disk fails with ENOSPC.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64, 64};
            CHILD_EXPECT(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            FileRegistryStore store(dir_);
            TAppRegistryStorage storage(store);
            CHILD_EXPECT(errorOf([&] { storage.WriteText(kEdit1, std::string(500, 'n')); }) ==
                         "Unable to open key \"Software\\oruDriver\" for write");
            CHILD_EXPECT(readBytes(file_) == before);
            CHILD_EXPECT(filesContaining(dir_, ".tmp-").empty());
            CHILD_EXPECT(storage.ReadText(kEdit1, "") == "old");
            return std::string();
        },
        false);
    EXPECT_EQ(failure, "");
}

TEST_F(StoreFile, ReadOnlyOrUnreadableStoreRaisesTheMessagesAndALaterSaveTriesAgain)
{
    fs::create_directories(dir_);
    for (const fs::path& path : {base_, base_ / "config", dir_}) ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);

    const std::string failure = runInChild(
        [&] {
            FileRegistryStore store(dir_);
            TAppRegistryStorage storage(store);
            storage.WriteText(kEdit1, "1");

            // Read-only directory: the temporary file can't be made.
            CHILD_EXPECT(::chmod(dir_.c_str(), 0500) == 0);
            CHILD_EXPECT(errorOf([&] { storage.WriteText(kEdit1, "2"); }) ==
                         "Unable to open key \"Software\\oruDriver\" for write");
            CHILD_EXPECT(storage.ReadText(kEdit1, "") == "1");
            CHILD_EXPECT(::chmod(dir_.c_str(), 0700) == 0);
            CHILD_EXPECT(errorOf([&] { storage.WriteText(kEdit1, "2"); }) == "no error");

            // Unreadable file: reads give defaults, a test for a value raises,
            // and nothing is written over what couldn't be read.
            CHILD_EXPECT(::chmod(file_.c_str(), 0) == 0);
            CHILD_EXPECT(storage.ReadText(kEdit1, "0") == "0");
            CHILD_EXPECT(errorOf([&] { storage.HasValue(kEdit1); }) ==
                         "Unable to open key \"Software\\oruDriver\" for read");
            CHILD_EXPECT(errorOf([&] { storage.WriteText(kEdit1, "3"); }) ==
                         "Unable to open key \"Software\\oruDriver\" for write");
            CHILD_EXPECT(::chmod(file_.c_str(), 0600) == 0);
            CHILD_EXPECT(storage.ReadText(kEdit1, "0") == "2");

            // A home that can't hold the directory at all.
            CHILD_EXPECT(::chmod((base_ / "config").c_str(), 0500) == 0);
            FileRegistryStore elsewhere(base_ / "config" / "other");
            TAppRegistryStorage other(elsewhere);
            const std::string error = errorOf([&] { other.WriteNumber(kFlags, 0); });
            CHILD_EXPECT(::chmod((base_ / "config").c_str(), 0700) == 0);
            CHILD_EXPECT(error == "Unable to create key 'Software\\oruDriver'");
            return std::string();
        },
        true);
    EXPECT_EQ(failure, "");
}

// The writer part of a temporary file's name: host, pid namespace, pid.
std::string temporaryName(const std::string& host, const std::string& pidNamespace, pid_t pid)
{
    return "store.conf.tmp-" + host + "-" + pidNamespace + "-" + std::to_string(pid) + "-Ab3dE9";
}

std::string thisHost()
{
    char name[256] = "";
    ::gethostname(name, sizeof name - 1);
    return name;
}

std::string thisPidNamespace()
{
    struct stat st {};
    return ::stat("/proc/self/ns/pid", &st) == 0 ? std::to_string(st.st_ino) : "0";
}

pid_t endedProcess()
{
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

struct TemporaryCase {
    const char* what;
    std::string name;
    bool kept;
};

TEST_F(StoreFile, WritersSharingTheFolderLeaveEachOthersTemporaryFilesAlone)
{
    // A process that lives through the test: a writer in the middle of its save.
    int hold[2];
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t writing = ::fork();
    if (writing == 0) {
        ::close(hold[1]);
        char byte;
        while (::read(hold[0], &byte, 1) > 0) {}
        ::_exit(0);
    }
    ::close(hold[0]);
    const pid_t ended = endedProcess();
    const std::string host = thisHost();
    const std::string pidNamespace = thisPidNamespace();
    const TemporaryCase rows[] = {
        {"ours, its writer ended", temporaryName(host, pidNamespace, ended), false},
        {"ours, its writer still saving", temporaryName(host, pidNamespace, writing), true},
        {"another host's", temporaryName(host + "x", pidNamespace, ended), true},
        {"another pid namespace's (a sandbox)", temporaryName(host, pidNamespace + "1", ended), true},
        {"an unnamed writer's", "store.conf.tmp-Ab3dE9", true},
    };
    fs::create_directories(dir_);
    for (const auto& row : rows) writeBytes(dir_ / row.name, "[half\n");

    // Two stores on one folder save in turn; each sees the other's values.
    FileRegistryStore first(dir_);
    FileRegistryStore second(dir_);
    TAppRegistryStorage one(first);
    TAppRegistryStorage two(second);
    for (int round = 0; round < 3; ++round) {
        one.WriteText(kEdit1, "one" + std::to_string(round));
        two.WriteText(kKey + R"(\Edit2_Text)", "two" + std::to_string(round));
    }
    EXPECT_EQ(one.ReadText(kKey + R"(\Edit2_Text)", ""), "two2");
    EXPECT_EQ(two.ReadText(kEdit1, ""), "one2");

    ::close(hold[1]);
    ::waitpid(writing, nullptr, 0);
    for (const auto& row : rows) EXPECT_EQ(fs::exists(dir_ / row.name), row.kept) << row.what;
    std::string problem;
    EXPECT_TRUE(StoreContents::parse(readBytes(file_), problem)) << problem;
}

TEST_F(StoreFile, TwoProcessesSavingAtOnceAllSucceed)
{
    // Each save is a fresh store, as a driver started for each would be.
    constexpr int kSaves = 40;
    fs::create_directories(dir_);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = ::fork();
        if (writers[w] != 0) continue;
        for (int save = 0; save < kSaves; ++save) {
            FileRegistryStore store(dir_);
            TAppRegistryStorage storage(store);
            if (errorOf([&] { storage.WriteText(kKey + "\\Writer" + std::to_string(w), std::to_string(save)); }) !=
                "no error") {
                ::_exit(1);
            }
        }
        ::_exit(0);
    }
    for (const pid_t pid : writers) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
    }
    std::string problem;
    EXPECT_TRUE(StoreContents::parse(readBytes(file_), problem)) << problem;
    EXPECT_TRUE(filesContaining(dir_, ".tmp-").empty());
}

struct FolderCase {
    const char* what;
    mode_t mode;
    bool otherOwner;
    mode_t modeAfter;
    bool used;            // the stored value is read and a write succeeds
    const char* said;     // in the one stderr line; "" for none
};

TEST_F(StoreFile, FolderOthersCanWriteIsMadePrivateAndAnotherUsersIsLeftAlone)
{
    const FolderCase rows[] = {
        {"writable by all", 0777, false, 0700, true, "could be written by other users (mode 0777); it was set to 0700"},
        {"writable by the group", 0770, false, 0700, true, "(mode 0770); it was set to 0700"},
        {"sticky, writable by all", 01777, false, 0700, true, "(mode 1777); it was set to 0700"},
        {"readable by others only", 0755, false, 0755, true, ""},
        {"another user's", 0700, true, 0700, false, "belongs to user "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string stored = "[Software\\oruDriver]\n\"Edit1_Text\" = text \"42\"\n";
        writeBytes(file_, stored);
        ASSERT_EQ(::chmod(dir_.c_str(), row.mode), 0);
        if (row.otherOwner) {
            if (::geteuid() != 0) GTEST_SKIP() << "a folder of another user needs a run as root";
            ASSERT_EQ(::chown(dir_.c_str(), 65534, 65534), 0);
        }

        testing::internal::CaptureStderr();
        FileRegistryStore store(dir_);
        TAppRegistryStorage storage(store);
        const std::string read = storage.ReadText(kEdit1, "0");
        const std::string writeError = errorOf([&] { storage.WriteText(kEdit1, "43"); });
        const std::string said = testing::internal::GetCapturedStderr();

        EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::mask, static_cast<fs::perms>(row.modeAfter));
        EXPECT_EQ(read, row.used ? "42" : "0");
        EXPECT_EQ(writeError, row.used ? "no error" : "Unable to create key 'Software\\oruDriver'");
        if (!row.used) EXPECT_EQ(readBytes(file_), stored);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), *row.said ? 1 : 0) << said;
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
        ASSERT_EQ(::chown(dir_.c_str(), ::geteuid(), ::getegid()), 0);
        fs::remove_all(dir_);
    }
}

struct UndecodableTextCase {
    const char* what;
    std::string stored;   // Edit1_Text as the file holds it
    std::string written;  // what the next save writes
    bool copyKept;
};

TEST_F(StoreFile, TextThatIsNotUtf8IsKeptInACopyBeforeItIsReplaced)
{
    const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD, as the settings layer writes a bad byte back
    const UndecodableTextCase rows[] = {
        {"stray byte", "12\xFF" "3", "12" + replacement + "3", true},
        {"cut sequence", "1\xE2\x82", "1" + replacement, true},
        {"overlong slash", "\xC0\xAF", replacement + replacement, true},
        {"surrogate", "\xED\xA0\x80", replacement, true},
        {"above U+10FFFF", "\xF4\x90\x80\x80", replacement, true},
        {"written back unchanged", "12\xFF" "3", "12\xFF" "3", false},
        {"valid UTF-8", "\xC3\x87\xC4\xB1k\xC4\xB1\xC5\x9F \xF0\x9F\x96\x8A", "99", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string original = "[Software\\oruDriver]\n\"Edit1_Text\" = text \"" + row.stored + "\"\n";
        writeBytes(file_, original);
        FileRegistryStore store(dir_);
        TAppRegistryStorage storage(store);
        EXPECT_EQ(storage.ReadText(kEdit1, ""), row.stored);

        testing::internal::CaptureStderr();
        storage.WriteText(kEdit1, row.written);
        storage.WriteText(kKey + R"(\Edit2_Text)", "7");
        const std::string said = testing::internal::GetCapturedStderr();

        const auto copies = filesContaining(dir_, ".damaged-");
        ASSERT_EQ(copies.size(), row.copyKept ? 1u : 0u);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), row.copyKept ? 1 : 0) << said;
        if (row.copyKept) {
            EXPECT_EQ(readBytes(copies[0]), original);
            EXPECT_NE(said.find("\"Edit1_Text\" of key [Software\\oruDriver] in " + file_.string() +
                                " is not valid UTF-8 text; it is replaced now, and the file as it was is kept as " +
                                copies[0].string()),
                      std::string::npos)
                << said;
        }
        EXPECT_EQ(FileRegistryStore(dir_).queryValue(kKey, "Edit1_Text"), StoredValue::ofText(row.written));
        fs::remove_all(dir_);
    }
}

TEST_F(StoreFile, KilledSavesLeaveAWholeFileWithAllOrNoneOfASave)
{
    // Children save eight equal texts in one update, again and again, and are
    // killed at random moments; every file left behind must parse and hold
    // eight equal texts.
    constexpr int kRounds = 60;
    std::mt19937 random(2024);
    int interruptedSaves = 0;
    for (int round = 0; round < kRounds; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            FileRegistryStore store(dir_);
            TAppRegistryStorage storage(store);
            for (int save = 0;; ++save) {
                const std::string value = std::to_string(round) + "." + std::to_string(save) +
                                          std::string(static_cast<std::size_t>(save % 7) * 900, 'x');
                storage.BeginUpdate();
                for (int edit = 1; edit <= 8; ++edit) storage.WriteText(kKey + "\\Edit" + std::to_string(edit) + "_Text", value);
                storage.EndUpdate(true);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        interruptedSaves += !filesContaining(dir_, ".tmp-").empty();

        if (!fs::exists(file_)) continue;  // killed before the first rename
        std::string problem;
        const auto contents = StoreContents::parse(readBytes(file_), problem);
        ASSERT_TRUE(contents) << "round " << round << ": " << problem;
        const StoredValue* first = contents->value(kKey, "Edit1_Text");
        ASSERT_NE(first, nullptr);
        for (int edit = 2; edit <= 8; ++edit) {
            const StoredValue* value = contents->value(kKey, "Edit" + std::to_string(edit) + "_Text");
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(*value, *first) << "round " << round << ", Edit" << edit;
        }
    }
    EXPECT_TRUE(filesContaining(dir_, ".damaged-").empty());
    std::cout << "[ info     ] " << interruptedSaves << " of " << kRounds << " kills hit a save before its rename\n";

    // Temporary files of killed saves are cleared by the next save.
    FileRegistryStore store(dir_);
    TAppRegistryStorage(store).WriteText(kEdit1, "done");
    EXPECT_TRUE(filesContaining(dir_, ".tmp-").empty());
}

} // namespace
} // namespace oru
