// The machine's calibration: which store it comes from, what a broken one
// does, and that an account using it never saves it as its own.

#include "app/CalibrationChoice.h"
#include "platform/linux/LinuxMachineCalibration.h"
#include "qtui/MainForm.h"
#include "common/TColor.h"
#include "fakes/FakeHidSystem.h"
#include "fakes/MemoryRegistryStore.h"
#include "fakes/RecordingPointerOutput.h"
#include "platform/linux/EventFdWaker.h"
#include "platform/linux/MachineStore.h"
#include "qtui/TextTrayIcon.h"

#include "MainWindowTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace oru {
namespace {

namespace fs = std::filesystem;

const CalibrationTexts kOwn{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
const CalibrationTexts kMachine{"90", "-140", "560", "-150", "100", "-490", "550", "-500"};
const CalibrationTexts kRecalibrated{"95", "-145", "555", "-155", "105", "-495", "545", "-505"};
const CalibrationTexts kZero{"0", "0", "0", "0", "0", "0", "0", "0"};

std::string fileWith(const CalibrationTexts& texts)
{
    std::string file = "[Software\\oruDriver]\n";
    for (int i = 0; i < 8; ++i) file += "\"" + calibrationValueName(i) + "\" = text \"" + texts[i] + "\"\n";
    return file;
}

std::string readAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The main window over an in-memory store, from creation to the end of main().
struct Driver {
    Driver(const std::optional<CalibrationTexts>& stored, const std::optional<CalibrationTexts>& machine)
    {
        hid.monitorFd = -1;
        if (stored) {
            for (int i = 0; i < 8; ++i) {
                store.put(kCalibrationKey, calibrationValueName(i), StoredValue::ofText((*stored)[i]));
            }
        }
        main = std::make_unique<TMainForm>(TMainForm::Services{pointer, store, hid, waker});
        main->setMachineCalibration([this, machine] {
            ++machineAsked;
            return machine;
        });
        // Without a calibration window the first show's calibration ends at
        // once; the blue square says it was asked for.
        test::pumpUntil([this] { return main->state.Calibrated == 1 || main->TrayIcon1->Color() == clBlue; });
    }
    void end()
    {
        main->shutdown();
        main.reset();
    }
    const StoredValue* saved(int edit) const { return store.find(kCalibrationKey, calibrationValueName(edit)); }

    test::RecordingPointerOutput pointer;
    test::MemoryRegistryStore store;
    test::FakeHidSystem hid;
    EventFdWaker waker;
    std::unique_ptr<TMainForm> main;
    int machineAsked = 0;
};

TEST(MachineCalibration, ServesOnlyAnAccountWithoutItsOwnAndIsNeverSavedAsTheAccounts)
{
    struct Row {
        const char* name;
        std::optional<CalibrationTexts> stored;   // the user's store before the start
        std::optional<CalibrationTexts> machine;
        std::function<void(TMainForm&)> during;   // what the user does before the end
        int calibrated;
        bool calibrationAsked;
        CalibrationTexts mapsWith;  // Edit1..Edit8 after the first show
        std::optional<CalibrationTexts> savedAfter;  // the user's store after the end; nothing: no Edit values
    };
    const auto recalibrate = [](TMainForm& main) {
        main.storeCalibrationTexts(kRecalibrated);
        main.calibrationCompleted();
    };
    const Row rows[] = {
        {"own calibration wins", kOwn, kMachine, {}, 1, false, kOwn, kOwn},
        {"fresh account uses the machine's", std::nullopt, kMachine, {}, 1, false, kMachine, std::nullopt},
        {"zero texts count as none", kZero, kMachine, {}, 1, false, kMachine, kZero},
        {"neither: calibration asked", std::nullopt, std::nullopt, {}, 0, true, kZero, kZero},
        {"own calibration made on the machine's", std::nullopt, kMachine, recalibrate, 1, false, kMachine,
         kRecalibrated},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Driver driver(row.stored, row.machine);
        TMainForm& main = *driver.main;

        EXPECT_EQ(main.state.Calibrated, row.calibrated);
        EXPECT_EQ(main.TrayIcon1->Color() == clBlue, row.calibrationAsked);
        EXPECT_EQ(main.calibrationTexts(), row.mapsWith);
        EXPECT_EQ(driver.machineAsked, row.stored == kOwn ? 0 : 1);
        if (row.during) row.during(main);
        driver.end();

        for (const char* other : {"FormVersion", "BoardScreen_Text"}) {
            EXPECT_NE(driver.store.find(kCalibrationKey, other), nullptr) << other << ": the rest is saved as before";
        }
        for (int i = 0; i < 8; ++i) {
            const StoredValue* saved = driver.saved(i);
            if (row.savedAfter) {
                ASSERT_NE(saved, nullptr) << calibrationValueName(i);
                EXPECT_EQ(saved->text, (*row.savedAfter)[i]);
            } else {
                EXPECT_EQ(saved, nullptr) << calibrationValueName(i) << " frozen into the user's store";
            }
        }
    }
}

class MachineStoreFiles : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/oru-machine-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        base_ = pattern;
    }
    void TearDown() override { fs::remove_all(base_); }

    // As root keeps it: folder 0755, file 0644, whatever the umask.
    fs::path put(const std::string& dir, const std::string& text)
    {
        fs::create_directories(base_ / dir / "oruDriver");
        fs::permissions(base_ / dir / "oruDriver", fs::perms(0755));
        const fs::path file = base_ / dir / "oruDriver" / "store.conf";
        std::ofstream(file, std::ios::binary) << text;
        fs::permissions(file, fs::perms(0644));
        return file;
    }

    fs::path base_;
};

TEST_F(MachineStoreFiles, FirstStoreFoundServesAndABrokenOneIsLeftAsItIsWithOneLine)
{
    CalibrationTexts notANumber = kMachine;
    notANumber[1] = "12a";
    struct Row {
        const char* name;
        std::function<void()> arrange;
        std::string dirs;  // XDG_CONFIG_DIRS, "@" standing for the test's folder
        std::optional<CalibrationTexts> texts;
        std::string said;  // a word of the one stderr line; empty: silent
    };
    const Row rows[] = {
        {"relative, empty and missing entries are passed over", [&] { put("b", fileWith(kMachine)); },
         "rel:::@/a:@/b", kMachine, ""},
        {"the first found wins", [&] { put("a", fileWith(kOwn)); put("b", fileWith(kMachine)); }, "@/a:@/b", kOwn,
         ""},
        {"damaged", [&] { put("a", "[Software\\oruDriver]\ngarbage\n"); put("b", fileWith(kMachine)); }, "@/a:@/b",
         std::nullopt, "damaged"},
        {"cut short", [&] { put("a", fileWith(kMachine) + "\"Edit9"); }, "@/a", std::nullopt, "damaged"},
        {"not a decimal integer", [&] { put("a", fileWith(notANumber)); }, "@/a", std::nullopt, "Edit2_Text"},
        {"unreadable", [&] { fs::create_directories(base_ / "a" / "oruDriver" / "store.conf"); }, "@/a",
         std::nullopt, "cannot read"},
        // Values the first show would take, but no completed calibration could have left.
        {"all eight equal", [&] { put("a", fileWith({"7", "7", "7", "7", "7", "7", "7", "7"})); }, "@/a",
         std::nullopt, "can't be fitted"},
        {"the integers' ends",
         [&] {
             put("a", fileWith({"-2147483648", "2147483647", "-2147483648", "2147483647", "-2147483648",
                                "2147483647", "-2147483648", "2147483647"}));
         },
         "@/a", std::nullopt, "four board points"},
        {"targets 0 and 1 swapped",
         [&] { put("a", fileWith({"550", "-160", "100", "-150", "110", "-500", "540", "-510"})); }, "@/a",
         std::nullopt, "can't be where the board saw"},
        // Only root (or the account itself) may have written what every account trusts.
        {"file writable by others",
         [&] { fs::permissions(put("a", fileWith(kMachine)), fs::perms(0666)); }, "@/a", std::nullopt,
         "it can be written by other users (mode 0666)"},
        {"folder writable by others",
         [&] {
             put("a", fileWith(kMachine));
             fs::permissions(base_ / "a" / "oruDriver", fs::perms(01777));
         },
         "@/a", std::nullopt, "its folder can be written by other users (mode 1777)"},
        {"a link", [&] {
             put("b", fileWith(kMachine));
             fs::create_directories(base_ / "a" / "oruDriver");
             fs::permissions(base_ / "a" / "oruDriver", fs::perms(0755));
             fs::create_symlink(base_ / "b" / "oruDriver" / "store.conf", base_ / "a" / "oruDriver" / "store.conf");
         },
         "@/a:@/b", std::nullopt, "symbolic link"},
        {"none at all", [] {}, "@/a", std::nullopt, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(base_ / "a");
        fs::remove_all(base_ / "b");
        row.arrange();
        std::string dirs = row.dirs;
        for (std::size_t at; (at = dirs.find('@')) != std::string::npos;) dirs.replace(at, 1, base_.string());
        const std::string before = readAll(base_ / "a" / "oruDriver" / "store.conf");

        testing::internal::CaptureStderr();
        EXPECT_EQ(loadMachineCalibration(dirs.c_str()), row.texts);
        const std::string said = testing::internal::GetCapturedStderr();

        if (row.said.empty()) {
            EXPECT_EQ(said, "");
        } else {
            EXPECT_NE(said.find(row.said), std::string::npos) << said;
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
            EXPECT_NE(said.find("--save-for-all-users"), std::string::npos) << "says how to fix it: " << said;
        }
        // Read-only for the driver: nothing renamed, written or added.
        if (fs::exists(base_ / "a" / "oruDriver")) {
            EXPECT_EQ(readAll(base_ / "a" / "oruDriver" / "store.conf"), before);
            EXPECT_EQ(std::distance(fs::directory_iterator(base_ / "a" / "oruDriver"), fs::directory_iterator()), 1);
        }
    }
}

TEST(MachineStoreDirectories, AbsoluteEntriesInOrderAndEtcXdgByDefault)
{
    struct Row {
        const char* value;
        std::vector<fs::path> directories;
    };
    const Row rows[] = {
        {nullptr, {"/etc/xdg/oruDriver"}},
        {"", {"/etc/xdg/oruDriver"}},
        {"/usr/local/etc/xdg:/etc/xdg", {"/usr/local/etc/xdg/oruDriver", "/etc/xdg/oruDriver"}},
        {"relative::/opt/xdg:", {"/opt/xdg/oruDriver"}},
        {":", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value ? row.value : "(unset)");
        EXPECT_EQ(machineStoreDirectories(row.value), row.directories);
    }
}

TEST_F(MachineStoreFiles, WrittenForAllIsReadableByEveryAccountWhateverTheUmask)
{
    const mode_t umaskBefore = ::umask(077);
    const fs::path directory = base_ / "etc" / "xdg" / "oruDriver";
    const MachineStoreWrite written = writeStoreFileForAll(directory, calibrationStore(kMachine), "# header\n");
    ::umask(umaskBefore);
    ASSERT_EQ(written.outcome, MachineStoreWrite::Outcome::Written) << written.problem;

    struct stat st {};
    ASSERT_EQ(::stat((directory / "store.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    for (const fs::path& made : {base_ / "etc", base_ / "etc" / "xdg", directory}) {
        ASSERT_EQ(::stat(made.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u) << made;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1) << "no temporary left";
    const StoreFileRead read = readStoreFile(directory / "store.conf");
    ASSERT_EQ(read.state, StoreFileRead::State::Loaded) << read.problem;
    std::string problem;
    EXPECT_EQ(calibrationIn(read.contents, problem), kMachine);
}

} // namespace
} // namespace oru
