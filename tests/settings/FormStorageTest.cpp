#include "qtui/FormPlacement.h"
#include "settings/FormTextStorage.h"

#include "platform/linux/FileRegistryStore.h"
#include "settings/AppRegistryStorage.h"
#include "settings/StoreContents.h"

#include "fakes/MemoryRegistryStore.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QScreen>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>

namespace oru {
namespace {

using test::MemoryRegistryStore;

const std::string kKey = R"(Software\oruDriver)";

class QtEnvironment final : public testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "FormStorageTest";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] testing::Environment* const qtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

/// A stand-in for the main window: a fixed-size window owning Edit1..Edit8,
/// each starting with the text "0", and the two storage components configured
/// as the driver configures them.
class StandInWindow {
public:
    explicit StandInWindow(RegistryStore& store, ScreenMetrics screen = {1024, 768, 96})
        : storage(store),
          formStorage(placementWindow, &storage, [this](const std::exception& e) { errors.push_back(e.what()); },
                      &QtPlacementWindow::primaryScreenMetrics)
    {
        window.setObjectName("MainForm");
        window.setFixedSize(139, 147);
        window.move(50, 60);
        for (int i = 0; i < 8; ++i) {
            edits[i] = new QLineEdit(QStringLiteral("0"), &window);
            edits[i]->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
        }
        storage.setRoot("%NONE%");
        formStorage.setAppStoragePath(R"(Software\oruDriver\)");
        formStorage.Options = {fpLocation};
        for (QLineEdit* edit : edits) {
            formStorage.addText(
                edit->objectName().toStdString(), [edit] { return edit->text().toStdString(); },
                [edit](const std::string& text) { edit->setText(QString::fromStdString(text)); });
        }
        setScreen(screen);
    }

    void setScreen(ScreenMetrics screen)
    {
        formStorage.setScreenMetricsSource([screen] { return screen; });
    }

    std::array<std::string, 8> texts() const
    {
        std::array<std::string, 8> result;
        for (int i = 0; i < 8; ++i) result[i] = edits[i]->text().toStdString();
        return result;
    }

    QWidget window;
    std::array<QLineEdit*, 8> edits{};
    TAppRegistryStorage storage;
    QtPlacementWindow placementWindow{&window};
    FormTextStorage formStorage;
    std::vector<std::string> errors;
};

std::string text(const MemoryRegistryStore& store, const std::string& name)
{
    const StoredValue* value = store.find(kKey, name);
    return value && value->kind == StoredKind::Text ? value->text : "<none>";
}

TEST(FormTextStorageOverQt, RestoresTextsBeforeTheWindowsOwnShow)
{
    MemoryRegistryStore store;
    for (int i = 1; i <= 8; ++i) store.put(kKey, "Edit" + std::to_string(i) + "_Text", StoredValue::ofText(std::to_string(i * 100)));
    StandInWindow w(store);
    w.formStorage.loaded();

    std::array<std::string, 8> seenByShow;
    w.formStorage.showHook([&] { seenByShow = w.texts(); });

    EXPECT_EQ(seenByShow, (std::array<std::string, 8>{"100", "200", "300", "400", "500", "600", "700", "800"}));
    EXPECT_TRUE(w.errors.empty());
}

TEST(FormTextStorageOverQt, TwoSavesInOneRunWriteOnceUnlessARestoreCameBetween)
{
    MemoryRegistryStore store;
    StandInWindow w(store);
    w.formStorage.loaded();
    w.formStorage.showHook({});

    bool canClose = true;
    w.formStorage.closeQueryHook(canClose);
    bool destroyed = false;
    w.formStorage.destroyHook([&] { destroyed = true; });
    EXPECT_EQ(store.updates, 1);
    EXPECT_TRUE(destroyed);

    w.formStorage.showHook({});
    EXPECT_FALSE(w.formStorage.StateSaved());
    w.formStorage.destroyHook({});
    EXPECT_EQ(store.updates, 2);

    // Closing is asked again: every allowed close saves, a refused one doesn't.
    w.formStorage.closeQueryHook(canClose);
    EXPECT_EQ(store.updates, 3);
    canClose = false;
    w.formStorage.closeQueryHook(canClose);
    EXPECT_EQ(store.updates, 3);
}

TEST(FormTextStorageOverQt, SaveAfterCalibrationMakesTheSaveAtDestructionNeedless)
{
    MemoryRegistryStore store;
    StandInWindow w(store);
    w.formStorage.loaded();
    w.formStorage.showHook({});

    w.edits[0]->setText("1234");
    w.formStorage.PersistState();
    EXPECT_EQ(text(store, "Edit1_Text"), "1234");
    w.formStorage.destroyHook({});
    EXPECT_EQ(store.updates, 1);
}

TEST(FormTextStorageOverQt, AnEndBeforeTheFirstShowLeavesTheStoredTexts)
{
    MemoryRegistryStore store;
    store.put(kKey, "Edit1_Text", StoredValue::ofText("1234"));
    StandInWindow w(store);
    w.formStorage.loaded();

    bool canClose = true;
    w.formStorage.closeQueryHook(canClose);
    bool destroyed = false;
    w.formStorage.destroyHook([&] { destroyed = true; });

    EXPECT_TRUE(destroyed);
    EXPECT_EQ(store.updates, 0);
    EXPECT_EQ(text(store, "Edit1_Text"), "1234");
}

TEST(FormTextStorageOverQt, InactiveOrWithoutStorageOnlyRunsTheWindowsHandlers)
{
    for (const bool inactive : {true, false}) {
        MemoryRegistryStore store;
        store.put(kKey, "Edit1_Text", StoredValue::ofText("5"));
        StandInWindow w(store);
        w.formStorage.loaded();
        if (inactive) w.formStorage.Active = false;
        else w.formStorage.setAppStorage(nullptr);

        int handlers = 0;
        w.formStorage.showHook([&] { ++handlers; });
        w.formStorage.destroyHook([&] { ++handlers; });
        EXPECT_EQ(handlers, 2);
        EXPECT_EQ(w.edits[0]->text(), "0");
        EXPECT_EQ(store.queries, 0);
        EXPECT_EQ(store.updates, 0);
    }
}

struct VersionCase {
    std::optional<std::int32_t> stored;
    TFormPlacementVersionCheck check;
    std::int32_t version;
    bool restored;
};

void PrintTo(const VersionCase& row, std::ostream* out)
{
    static const char* const checks[] = {"no check", "stored >= Version", "stored = Version"};
    *out << "stored " << (row.stored ? std::to_string(*row.stored) : "none") << ", " << checks[row.check]
         << ", Version " << row.version << (row.restored ? ": restored" : ": not restored");
}

class VersionCheckTable : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionCheckTable, DecidesWhetherAnythingIsRestored)
{
    MemoryRegistryStore store;
    if (GetParam().stored) store.put(kKey, "FormVersion", StoredValue::ofNumber(*GetParam().stored));
    store.put(kKey, "Edit1_Text", StoredValue::ofText("42"));
    store.put(kKey, "NormPos", StoredValue::ofText("300,400,439,547"));
    StandInWindow w(store);
    w.formStorage.VersionCheck = GetParam().check;
    w.formStorage.Version = GetParam().version;
    w.formStorage.loaded();

    w.formStorage.showHook({});

    EXPECT_EQ(w.edits[0]->text(), GetParam().restored ? "42" : "0");
    EXPECT_EQ(w.window.pos(), GetParam().restored ? QPoint(300, 400) : QPoint(50, 60));
}

INSTANTIATE_TEST_SUITE_P(Rows, VersionCheckTable,
                         testing::Values(VersionCase{std::nullopt, fpvcCheckGreaterEqual, 0, true},
                                         VersionCase{0, fpvcCheckGreaterEqual, 0, true},
                                         VersionCase{3, fpvcCheckGreaterEqual, 0, true},
                                         VersionCase{-1, fpvcCheckGreaterEqual, 0, false},
                                         VersionCase{2, fpvcCheckGreaterEqual, 3, false},
                                         VersionCase{2, fpvcCheckEqual, 3, false},
                                         VersionCase{3, fpvcCheckEqual, 3, true},
                                         VersionCase{-5, fpvcNocheck, 0, true}));

TEST(FormPlacementOverQt, ReadsTheValuesOfTheCurrentScreenSizeAndKeepsOthers)
{
    MemoryRegistryStore store;
    StandInWindow w(store, {1024, 768, 96});
    w.formStorage.loaded();
    w.window.move(10, 20);
    w.formStorage.PersistState();
    EXPECT_EQ(text(store, "NormPos(1024x768)"), "10,20,149,167");
    EXPECT_EQ(text(store, "NormPos"), "10,20,149,167");
    EXPECT_EQ(text(store, "MinMaxPos(1024x768)"), "-1,-1,-1,-1");

    // The same size reads its own values, not the plain ones.
    store.put(kKey, "NormPos", StoredValue::ofText("300,400,439,547"));
    w.formStorage.showHook({});
    EXPECT_EQ(w.window.pos(), QPoint(10, 20));

    // Another size has none of its own: the last save under any size counts.
    w.setScreen({800, 600, 96});
    w.formStorage.showHook({});
    EXPECT_EQ(w.window.pos(), QPoint(300, 400));
    w.formStorage.PersistState();
    EXPECT_EQ(text(store, "NormPos(800x600)"), "300,400,439,547");
    EXPECT_EQ(text(store, "NormPos(1024x768)"), "10,20,149,167");
}

TEST(FormPlacementOverQt, ScreenSuffixComesFromThePrimaryScreenInPhysicalPixels)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const ScreenMetrics metrics = QtPlacementWindow::primaryScreenMetrics();
    EXPECT_EQ(metrics.widthPx, qRound(screen->geometry().width() * screen->devicePixelRatio()));
    EXPECT_EQ(metrics.heightPx, qRound(screen->geometry().height() * screen->devicePixelRatio()));
    EXPECT_EQ(metrics.pixelsPerInch, qRound(screen->logicalDotsPerInch()));

    QWidget owner;
    QtPlacementWindow window(&owner);
    FormPlacementKeeper placement(window, nullptr, {}, &QtPlacementWindow::primaryScreenMetrics);
    EXPECT_EQ(placement.ScreenSuffix(),
              "(" + std::to_string(metrics.widthPx) + "x" + std::to_string(metrics.heightPx) + ")");
}

TEST(FormPlacementOverQt, OtherPixelDensityKeepsThePlacementButRestoresTexts)
{
    MemoryRegistryStore store;
    store.put(kKey, "PixelsPerInch", StoredValue::ofNumber(120));
    store.put(kKey, "NormPos", StoredValue::ofText("300,400,439,547"));
    store.put(kKey, "Edit1_Text", StoredValue::ofText("42"));
    StandInWindow w(store);
    w.formStorage.loaded();
    w.formStorage.showHook({});
    EXPECT_EQ(w.window.pos(), QPoint(50, 60));
    EXPECT_EQ(w.edits[0]->text(), "42");
}

struct PositionCase {
    std::string normPos;
    std::string minMaxPos;
    QPoint position;          // window at 50,60 before the restore
    std::string minMaxSaved;  // MinMaxPos at the next save
};

void PrintTo(const PositionCase& row, std::ostream* out)
{
    *out << "NormPos [" << row.normPos << "] MinMaxPos [" << row.minMaxPos << "]";
}

class PositionWordsTable : public testing::TestWithParam<PositionCase> {};

TEST_P(PositionWordsTable, MissingWordsKeepTheWindowsOwnOrReadZero)
{
    MemoryRegistryStore store;
    if (!GetParam().normPos.empty()) store.put(kKey, "NormPos", StoredValue::ofText(GetParam().normPos));
    if (!GetParam().minMaxPos.empty()) store.put(kKey, "MinMaxPos", StoredValue::ofText(GetParam().minMaxPos));
    StandInWindow w(store);
    w.formStorage.loaded();

    w.formStorage.showHook({});
    EXPECT_EQ(w.window.pos(), GetParam().position);
    w.formStorage.PersistState();
    EXPECT_EQ(text(store, "MinMaxPos"), GetParam().minMaxSaved);
}

INSTANTIATE_TEST_SUITE_P(Rows, PositionWordsTable,
                         testing::Values(PositionCase{"10,20,30,40", "", {10, 20}, "-1,-1,-1,-1"},
                                         PositionCase{"10", "", {10, 60}, "-1,-1,-1,-1"},
                                         PositionCase{"x,20", "", {50, 20}, "-1,-1,-1,-1"},
                                         PositionCase{"10 20", "", {10, 20}, "-1,-1,-1,-1"},
                                         PositionCase{",,10,,20", "", {10, 20}, "-1,-1,-1,-1"},
                                         PositionCase{"", "5", {50, 60}, "5,0,-1,-1"},
                                         PositionCase{"10,20", "5,y,7,8", {10, 20}, "5,0,-1,-1"}));

TEST(FormPlacementOverQt, SizeIsRestoredOnlyForASizeableWindowWithFpSize)
{
    MemoryRegistryStore store;
    store.put(kKey, "NormPos", StoredValue::ofText("10,20,310,420"));
    StandInWindow w(store);
    w.window.setMinimumSize(0, 0);
    w.window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    w.formStorage.Options = {fpLocation, fpSize};
    w.formStorage.loaded();
    w.formStorage.showHook({});
    EXPECT_EQ(w.window.frameGeometry(), QRect(10, 20, 300, 400));
}

TEST(FormPlacementOverQt, ErrorsOfRestoreAndSaveAreReportedAndTheHandlersStillRun)
{
    MemoryRegistryStore store;
    store.put(kKey, "Edit1_Text", StoredValue::ofText("42"));
    store.unreadable = true;
    StandInWindow w(store);
    w.formStorage.loaded();

    bool shown = false;
    w.formStorage.showHook([&] { shown = true; });
    EXPECT_TRUE(shown);
    EXPECT_EQ(w.errors, std::vector<std::string>{"Unable to open key \"Software\\oruDriver\" for read"});
    EXPECT_EQ(w.edits[0]->text(), "0");

    // A failing save ends at once, stores nothing and leaves StateSaved clear.
    MemoryRegistryStore clean;
    clean.failUpdate = true;
    StandInWindow v(clean);
    v.formStorage.loaded();
    v.formStorage.showHook({});
    bool destroyed = false;
    v.formStorage.destroyHook([&] { destroyed = true; });
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(v.errors, std::vector<std::string>{"Unable to create key 'Software\\oruDriver'"});
    EXPECT_FALSE(v.formStorage.StateSaved());
    EXPECT_TRUE(clean.stored.empty());

    clean.failUpdate = false;  // space was freed: the next save goes through
    v.formStorage.destroyHook({});
    EXPECT_TRUE(v.formStorage.StateSaved());
    EXPECT_EQ(text(clean, "Edit8_Text"), "0");
}

TEST(FormTextStorageOverQt, PropertiesThatCantBeRestoredKeepTheirTextSilently)
{
    MemoryRegistryStore store;
    store.put(kKey, "Edit1_Text", StoredValue::ofText("1"));
    store.put(kKey, "Edit2_Text", StoredValue::ofText("2"));
    store.put(kKey, "Edit3_Text", StoredValue::ofNumber(3));  // a hand-written number
    store.put(kKey, "Edit4_Text", StoredValue::ofText("4"));
    store.brokenValues = {"Edit2_Text"};
    StandInWindow w(store);
    w.formStorage.loaded();

    w.formStorage.showHook({});

    EXPECT_EQ(w.texts(), (std::array<std::string, 8>{"1", "0", "0", "4", "0", "0", "0", "0"}));
    EXPECT_TRUE(w.errors.empty());
}

TEST(FormPlacementOverQt, AppStoragePathEndsInASeparatorAndNamesTheForm)
{
    QWidget owner;
    owner.setObjectName("MainForm");
    QtPlacementWindow window(&owner);
    FormPlacementKeeper placement(window, nullptr, {}, &QtPlacementWindow::primaryScreenMetrics);
    const std::pair<std::string, std::string> rows[] = {
        {R"(Software\oruDriver\)", R"(Software\oruDriver\)"},
        {R"(Software\oruDriver)", R"(Software\oruDriver\)"},
        {R"(Software\%FORM_NAME%)", R"(Software\MainForm\)"},
        {"", ""},
    };
    for (const auto& [given, kept] : rows) {
        placement.setAppStoragePath(given);
        EXPECT_EQ(placement.AppStoragePath(), kept) << given;
    }
}

// The whole way through the real store file, as the program runs it.
class FormStorageOnDisk : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/oru-formstorage-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        configHome_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(configHome_); }

    std::filesystem::path storeDirectory() const
    {
        return FileRegistryStore::storeDirectoryFor(configHome_.c_str(), nullptr);
    }

    std::filesystem::path configHome_;
};

TEST_F(FormStorageOnDisk, FirstSaveOnACleanAccountWritesAllValuesAndTheNextStartRestoresThem)
{
    {
        FileRegistryStore store(storeDirectory());
        StandInWindow w(store);
        w.formStorage.loaded();
        std::array<std::string, 8> seenByShow;
        w.formStorage.showHook([&] { seenByShow = w.texts(); });
        EXPECT_EQ(seenByShow, (std::array<std::string, 8>{"0", "0", "0", "0", "0", "0", "0", "0"}));
        EXPECT_FALSE(std::filesystem::exists(store.filePath()));

        // A calibration, then the end of the program.
        for (int i = 0; i < 8; ++i) w.edits[i]->setText(QString::number(1000 + i));
        w.window.move(5000, 5000);
        w.formStorage.destroyHook({});
        EXPECT_TRUE(w.errors.empty());
    }

    std::ifstream file(storeDirectory() / "store.conf");
    std::stringstream bytes;
    bytes << file.rdbuf();
    std::string problem;
    const auto contents = StoreContents::parse(bytes.str(), problem);
    ASSERT_TRUE(contents) << problem;
    ASSERT_EQ(contents->keys().size(), 1u);
    EXPECT_EQ(contents->keys()[0].path, kKey);
    std::vector<std::string> names;
    for (const auto& [name, value] : contents->keys()[0].values) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"FormVersion", "Flags", "PixelsPerInch", "MinMaxPos(1024x768)",
                                               "MinMaxPos", "NormPos(1024x768)", "NormPos", "Edit1_Text",
                                               "Edit2_Text", "Edit3_Text", "Edit4_Text", "Edit5_Text",
                                               "Edit6_Text", "Edit7_Text", "Edit8_Text"}));
    EXPECT_EQ(*contents->value(kKey, "FormVersion"), StoredValue::ofNumber(0));
    EXPECT_EQ(*contents->value(kKey, "Flags"), StoredValue::ofNumber(0));
    EXPECT_EQ(*contents->value(kKey, "PixelsPerInch"), StoredValue::ofNumber(96));
    EXPECT_EQ(*contents->value(kKey, "NormPos"), StoredValue::ofText("5000,5000,5139,5147"));
    EXPECT_EQ(*contents->value(kKey, "Edit8_Text"), StoredValue::ofText("1007"));

    FileRegistryStore store(storeDirectory());
    StandInWindow next(store);
    next.formStorage.loaded();
    std::array<std::string, 8> seenByShow;
    next.formStorage.showHook([&] { seenByShow = next.texts(); });
    EXPECT_EQ(seenByShow, (std::array<std::string, 8>{"1000", "1001", "1002", "1003", "1004", "1005", "1006", "1007"}));
}

TEST_F(FormStorageOnDisk, SaveWithoutAPlaceForTheStoreIsReportedAndTriedAgain)
{
    // XDG_CONFIG_HOME names a regular file: the store's directory can't be made.
    const std::filesystem::path blocker = configHome_ / "config";
    std::ofstream(blocker) << "not a directory\n";
    FileRegistryStore store(FileRegistryStore::storeDirectoryFor(blocker.c_str(), nullptr));
    StandInWindow w(store);
    w.formStorage.loaded();
    w.formStorage.showHook({});

    testing::internal::CaptureStderr();
    w.formStorage.destroyHook({});
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(w.errors, std::vector<std::string>{"Unable to create key 'Software\\oruDriver'"});
    EXPECT_NE(stderrText.find("is not a directory"), std::string::npos) << stderrText;

    std::filesystem::remove(blocker);
    w.formStorage.destroyHook({});
    EXPECT_EQ(w.errors.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(store.filePath()));
}

} // namespace
} // namespace oru

