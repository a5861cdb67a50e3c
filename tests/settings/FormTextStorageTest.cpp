// The stored texts of a window without a property system (the Windows shell's
// main window): what a show restores and what a save writes.

#include "settings/FormTextStorage.h"

#include "settings/AppRegistryStorage.h"

#include "fakes/MemoryRegistryStore.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace oru {
namespace {

using test::MemoryRegistryStore;

const std::string kKey = R"(Software\oruDriver)";

class FixedWindow final : public PlacementWindow {
public:
    bool exists() const override { return true; }
    std::string name() const override { return "MainForm"; }
    PlacementRect frame() const override { return {5000, 5000, 5145, 5169}; }
    PlacementRect normalFrame() const override { return frame(); }
    void moveFrame(int, int) override {}
    void resizeBy(int, int) override {}
    bool sizeable() const override { return false; }
};

TEST(FormTextStorage, RestoresAndSavesTheKeptTexts)
{
    struct Row {
        const char* name;
        std::optional<StoredValue> stored;  // Edit1_Text before the show
        bool kept;                          // Edit1 kept (the machine's calibration isn't)
        const char* afterShow;              // Edit1's text after the show
        bool saved;                         // Edit1_Text written by the save
    };
    const Row rows[] = {
        {"a stored text is restored", StoredValue::ofText("1234"), true, "1234", true},
        {"nothing stored keeps the initial text", std::nullopt, true, "0", true},
        {"a negative number is a text like any", StoredValue::ofText("-17"), true, "-17", true},
        {"a number where a text belongs leaves the text", StoredValue::ofNumber(77), true, "0", true},
        {"a text not kept is neither restored nor saved", StoredValue::ofText("1234"), false, "0", false},
    };
    for (const Row& row : rows) {
        MemoryRegistryStore store;
        if (row.stored) store.put(kKey, "Edit1_Text", *row.stored);
        store.put(kKey, "BoardScreen_Text", StoredValue::ofText(R"(\\.\DISPLAY2)"));
        TAppRegistryStorage storage(store);
        storage.setRoot("%NONE%");
        FixedWindow window;
        FormTextStorage keeper(window, &storage, {}, [] { return ScreenMetrics{1280, 800, 96}; });
        keeper.setAppStoragePath(kKey + "\\");
        keeper.Options = {fpLocation};
        std::string edit1 = "0";
        std::string board;
        keeper.addText("Edit1", [&] { return edit1; }, [&](const std::string& text) { edit1 = text; });
        keeper.addText("BoardScreen", [&] { return board; }, [&](const std::string& text) { board = text; });
        keeper.setStored("Edit1", row.kept);

        keeper.showHook({});
        EXPECT_EQ(edit1, row.afterShow) << row.name;
        EXPECT_EQ(board, R"(\\.\DISPLAY2)") << row.name;

        store.keys.clear();
        edit1 = "4321";
        keeper.PersistState();
        const StoredValue* saved = store.find(kKey, "Edit1_Text");
        EXPECT_EQ(saved != nullptr, row.saved) << row.name;
        if (saved && row.saved) EXPECT_EQ(*saved, StoredValue::ofText("4321")) << row.name;
        EXPECT_NE(store.find(kKey, "BoardScreen_Text"), nullptr) << row.name;
        EXPECT_NE(store.find(kKey, "NormPos(1280x800)"), nullptr) << row.name;
    }
}

} // namespace
} // namespace oru
