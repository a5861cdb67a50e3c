// The placement rules against a scripted window: no toolkit.

#include "settings/FormPlacementKeeper.h"

#include "settings/AppRegistryStorage.h"

#include "fakes/MemoryRegistryStore.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace oru {
namespace {

using test::MemoryRegistryStore;

const std::string kKey = R"(Software\oruDriver)";

/// A window that is where it is told; a frame 10 px wider and 30 px higher
/// than what resizeBy sizes, as a title bar and borders make it.
class ScriptedWindow final : public PlacementWindow {
public:
    PlacementRect at{50, 60, 189, 207};
    bool fixedSize = true;

    bool exists() const override { return true; }
    std::string name() const override { return "MainForm"; }
    PlacementRect frame() const override { return at; }
    PlacementRect normalFrame() const override { return at; }
    void moveFrame(int left, int top) override
    {
        at = {left, top, left + at.right - at.left, top + at.bottom - at.top};
    }
    void resizeBy(int widthChange, int heightChange) override
    {
        at.right += widthChange;
        at.bottom += heightChange;
    }
    bool sizeable() const override { return !fixedSize; }
};

TEST(FormPlacementKeeper, RestoresWhatTheStoreAndTheWindowAllow)
{
    struct Row {
        const char* name;
        const char* normPos;            // stored under "NormPos"
        const char* sizedNormPos;       // under "NormPos(1024x768)", or null
        std::optional<int> storedDpi;   // "PixelsPerInch"
        bool sizeable;
        TPlacementOptions options;
        PlacementRect after;
    };
    const Row rows[] = {
        {"location only", "10,20,310,420", nullptr, 96, true, {fpLocation}, {10, 20, 149, 167}},
        {"location and size of a sizeable window", "10,20,310,420", nullptr, 96, true, {fpLocation, fpSize},
         {10, 20, 310, 420}},
        {"a fixed size is kept", "10,20,310,420", nullptr, 96, false, {fpLocation, fpSize}, {10, 20, 149, 167}},
        {"the current screen size's values win", "10,20,310,420", "300,400,439,547", 96, false, {fpLocation},
         {300, 400, 439, 547}},
        {"another density keeps the window where it is", "10,20,310,420", nullptr, 120, true, {fpLocation},
         {50, 60, 189, 207}},
        {"no density stored counts as the screen's", "10,20,310,420", nullptr, std::nullopt, true, {fpLocation},
         {10, 20, 149, 167}},
        {"missing words keep the window's own", "10", nullptr, 96, true, {fpLocation}, {10, 60, 149, 207}},
        {"an empty width restores nothing", "10,20,10,420", nullptr, 96, true, {fpLocation, fpSize},
         {50, 60, 189, 207}},
    };
    for (const Row& row : rows) {
        MemoryRegistryStore store;
        store.put(kKey, "NormPos", StoredValue::ofText(row.normPos));
        if (row.sizedNormPos) store.put(kKey, "NormPos(1024x768)", StoredValue::ofText(row.sizedNormPos));
        if (row.storedDpi) store.put(kKey, "PixelsPerInch", StoredValue::ofNumber(*row.storedDpi));
        TAppRegistryStorage storage(store);
        storage.setRoot("%NONE%");
        ScriptedWindow window;
        window.fixedSize = !row.sizeable;
        FormPlacementKeeper keeper(window, &storage, {}, [] { return ScreenMetrics{1024, 768, 96}; });
        keeper.setAppStoragePath(kKey);
        keeper.Options = row.options;
        bool shown = false;
        keeper.showHook([&] { shown = true; });
        EXPECT_TRUE(shown) << row.name;
        EXPECT_EQ(window.at.left, row.after.left) << row.name;
        EXPECT_EQ(window.at.top, row.after.top) << row.name;
        EXPECT_EQ(window.at.right, row.after.right) << row.name;
        EXPECT_EQ(window.at.bottom, row.after.bottom) << row.name;
    }
}

TEST(FormPlacementKeeper, SavesOnlyAfterTheFirstRestoreAndOnlyOnceAtTheEnd)
{
    MemoryRegistryStore store;
    TAppRegistryStorage storage(store);
    storage.setRoot("%NONE%");
    ScriptedWindow window;
    FormPlacementKeeper keeper(window, &storage, {}, [] { return ScreenMetrics{800, 600, 96}; });
    keeper.setAppStoragePath("Software\\%FORM_NAME%");
    EXPECT_EQ(keeper.AppStoragePath(), "Software\\MainForm\\");
    keeper.destroyHook({});
    EXPECT_EQ(store.find("Software\\MainForm", "NormPos"), nullptr) << "never shown: nothing overwritten";
    keeper.showHook({});
    window.moveFrame(7, 8);
    keeper.destroyHook({});
    const StoredValue* saved = store.find("Software\\MainForm", "NormPos(800x600)");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->text, "7,8,146,155");
    EXPECT_TRUE(keeper.StateSaved());
}

} // namespace
} // namespace oru
