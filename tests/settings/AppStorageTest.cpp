#include "settings/AppRegistryStorage.h"

#include "fakes/MemoryRegistryStore.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace oru {
namespace {

using test::MemoryRegistryStore;

const std::string kKey = R"(Software\oruDriver)";

struct JoinCase {
    std::vector<std::string> pieces;
    std::string joined;
};

// Test names carry the rows, with "/" for the separator to keep them easy to filter.
std::string shown(const std::string& path)
{
    std::string text = path;
    for (char& c : text) if (c == '\\') c = '/';
    return "[" + text + "]";
}

void PrintTo(const JoinCase& row, std::ostream* out)
{
    *out << "JoinPath(";
    for (std::size_t i = 0; i < row.pieces.size(); ++i) *out << (i ? " " : "") << shown(row.pieces[i]);
    *out << ") is " << shown(row.joined);
}

class JoinPathTable : public testing::TestWithParam<JoinCase> {};

TEST_P(JoinPathTable, JoinsAndNormalises)
{
    EXPECT_EQ(JoinPath(GetParam().pieces), GetParam().joined);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JoinPathTable,
    testing::Values(JoinCase{{}, ""}, JoinCase{{R"(Software\oruDriver\)", ""}, R"(Software\oruDriver)"},
                    JoinCase{{R"(Software\oruDriver\\Flags)"}, R"(Software\oruDriver\Flags)"},
                    JoinCase{{R"(Software\oruDriver\)", "Edit1_Text"}, R"(Software\oruDriver\Edit1_Text)"},
                    JoinCase{{"", R"(Software\oruDriver\\Flags)"}, R"(Software\oruDriver\Flags)"},
                    JoinCase{{R"(\a)", "b"}, R"(a\b)"},          // the first piece's "\" restarts nothing
                    JoinCase{{"a", R"(\b)"}, "b"},               // a later piece's "\" restarts the path
                    JoinCase{{"x", R"(\y)", "z"}, R"(y\z)"},
                    JoinCase{{"x", R"(\y)", R"(\z)"}, "z"},      // the last such piece wins
                    JoinCase{{R"(a\b\c)", ".."}, R"(a\b)"},
                    JoinCase{{R"(a\b\c)", "..."}, "a"},          // n dots go up n-1
                    JoinCase{{"a", "....."}, ""},                // never above the top
                    JoinCase{{R"(a\.\b)"}, R"(a\b)"},
                    JoinCase{{R"(a\..\..\b)"}, "b"},
                    JoinCase{{"  ", ""}, ""},                    // blank is empty
                    JoinCase{{" a "}, " a "},                    // but not trimmed otherwise
                    JoinCase{{"%NONE%"}, "%NONE%"}));

struct PathCase {
    std::string root;
    std::string path;
    TStoragePath expected;
};

void PrintTo(const PathCase& row, std::ostream* out)
{
    *out << "root " << shown(row.root) << " path " << shown(row.path) << " is key " << shown(row.expected.key)
         << " value " << shown(row.expected.name);
}

class ValuePathTable : public testing::TestWithParam<PathCase> {};

TEST_P(ValuePathTable, SplitsIntoKeyAndValueName)
{
    MemoryRegistryStore store;
    TAppRegistryStorage storage(store);
    storage.setRoot(GetParam().root);
    EXPECT_EQ(storage.valuePath(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ValuePathTable,
    testing::Values(PathCase{"%NONE%", R"(Software\oruDriver\\Flags)", {kKey, "Flags"}},
                    PathCase{"%NONE%", R"(Software\oruDriver\Edit1_Text)", {kKey, "Edit1_Text"}},
                    PathCase{"%NONE%", "Flags", {"", "Flags"}},
                    PathCase{"%NONE%", R"(\\Software\oruDriver\X)", {kKey, "X"}},
                    PathCase{R"(Software\)", R"(oruDriver\X)", {kKey, "X"}},
                    PathCase{"", R"(Software\oruDriver\)", {"Software", "oruDriver"}}));

struct ReadCase {
    const char* what;
    std::optional<StoredValue> stored;
    std::int32_t number;       // ReadNumber(path, -7)
    std::string text;          // ReadText(path, "dflt")
    std::size_t unusable;      // reports to the store over both reads
};

void PrintTo(const ReadCase& row, std::ostream* out)
{
    *out << row.what;
}

class ReadRulesTable : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadRulesTable, ConvertsOrFallsBackToDefault)
{
    MemoryRegistryStore store;
    store.keys[kKey];
    if (GetParam().stored) store.put(kKey, "V", *GetParam().stored);
    TAppRegistryStorage storage(store);
    const std::string path = kKey + "\\V";

    EXPECT_EQ(storage.ReadNumber(path, -7), GetParam().number);
    EXPECT_EQ(storage.ReadText(path, "dflt"), GetParam().text);
    EXPECT_EQ(store.unusable.size(), GetParam().unusable);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadRulesTable,
    testing::Values(ReadCase{"missing", std::nullopt, -7, "dflt", 0},
                    ReadCase{"number", StoredValue::ofNumber(5), 5, "dflt", 1},
                    ReadCase{"negative number", StoredValue::ofNumber(-1), -1, "dflt", 1},
                    ReadCase{"decimal text", StoredValue::ofText("12"), 12, "12", 0},
                    ReadCase{"smallest int", StoredValue::ofText("-2147483648"), INT_MIN, "-2147483648", 0},
                    ReadCase{"beyond 32 bits", StoredValue::ofText("2147483648"), -7, "2147483648", 1},
                    ReadCase{"word", StoredValue::ofText("abc"), -7, "abc", 1},
                    ReadCase{"empty text", StoredValue::ofText(""), -7, "", 1},
                    ReadCase{"leading blank", StoredValue::ofText(" 7"), -7, " 7", 1},
                    ReadCase{"decimal point", StoredValue::ofText("1.5"), -7, "1.5", 1}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name) if (c == ' ') c = '_';
        return name;
    });

TEST(TAppRegistryStorage, MissingKeyGivesDefaultsWithoutQueryingValues)
{
    MemoryRegistryStore store;
    TAppRegistryStorage storage(store);

    EXPECT_FALSE(storage.HasValue(kKey + "\\FormVersion"));
    EXPECT_EQ(storage.ReadNumber(kKey + "\\FormVersion", 0), 0);
    EXPECT_EQ(storage.ReadText(kKey + "\\Edit1_Text", "0"), "0");
    EXPECT_EQ(store.queries, 0);
}

TEST(TAppRegistryStorage, FirstWriteCreatesTheKeyOnce)
{
    MemoryRegistryStore store;
    TAppRegistryStorage storage(store);

    storage.WriteNumber(kKey + "\\\\Flags", 0);
    storage.WriteText(kKey + "\\Edit1_Text", "512");

    EXPECT_EQ(store.created, std::vector<std::string>{kKey});
    EXPECT_EQ(store.stored, (std::vector<std::string>{kKey + "\\Flags = 0", kKey + "\\Edit1_Text = \"512\""}));
}

TEST(TAppRegistryStorage, HasKeyTestsTheWholePathAsKey)
{
    MemoryRegistryStore store;
    store.keys[kKey + "\\Edit1_Text"];
    TAppRegistryStorage storage(store);
    EXPECT_TRUE(storage.HasKey(kKey + "\\Edit1_Text"));
    EXPECT_TRUE(storage.HasKey("Software"));
    EXPECT_FALSE(storage.HasKey(kKey + "\\Edit2_Text"));
    EXPECT_FALSE(storage.HasValue(kKey + "\\Edit1_Text"));
}

TEST(TAppRegistryStorage, RaisesTheBackEndsMessages)
{
    const std::string path = kKey + "\\Edit1_Text";
    auto messageOf = [](auto&& action) {
        try {
            action();
        } catch (const EAppStorageError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };

    MemoryRegistryStore clean;
    clean.failCreate = true;
    TAppRegistryStorage onClean(clean);
    EXPECT_EQ(messageOf([&] { onClean.WriteText(path, "1"); }), "Unable to create key 'Software\\oruDriver'");

    MemoryRegistryStore readOnly;
    readOnly.keys[kKey];
    readOnly.failSet = true;
    TAppRegistryStorage onReadOnly(readOnly);
    EXPECT_EQ(messageOf([&] { onReadOnly.WriteNumber(path, 1); }),
              "Unable to open key \"Software\\oruDriver\" for write");

    MemoryRegistryStore unreadable;
    unreadable.unreadable = true;
    TAppRegistryStorage onUnreadable(unreadable);
    EXPECT_EQ(messageOf([&] { onUnreadable.HasValue(path); }), "Unable to open key \"Software\\oruDriver\" for read");
    // The typed reads never raise: they give the default.
    EXPECT_EQ(onUnreadable.ReadText(path, "0"), "0");
    EXPECT_EQ(onUnreadable.ReadNumber(path, 3), 3);
}

TEST(TAppRegistryStorage, FailedUpdateStoresNothingAndNamesTheFirstKey)
{
    for (const bool keyExisted : {false, true}) {
        SCOPED_TRACE(keyExisted ? "key existed" : "clean account");
        MemoryRegistryStore store;
        if (keyExisted) store.keys[kKey];
        store.failUpdate = true;
        TAppRegistryStorage storage(store);

        storage.BeginUpdate();
        storage.WriteNumber(kKey + "\\FormVersion", 0);
        storage.WriteText(kKey + "\\Edit1_Text", "7");
        try {
            storage.EndUpdate(true);
            ADD_FAILURE() << "the failed update was not raised";
        } catch (const EAppStorageError& error) {
            EXPECT_STREQ(error.what(), keyExisted ? "Unable to open key \"Software\\oruDriver\" for write"
                                                  : "Unable to create key 'Software\\oruDriver'");
        }
        EXPECT_TRUE(store.stored.empty());
        EXPECT_EQ(store.find(kKey, "Edit1_Text"), nullptr);
    }
}

TEST(TAppRegistryStorage, DroppedUpdateStoresNothing)
{
    MemoryRegistryStore store;
    TAppRegistryStorage storage(store);
    storage.BeginUpdate();
    storage.WriteText(kKey + "\\Edit1_Text", "7");
    storage.EndUpdate(false);
    EXPECT_TRUE(store.stored.empty());
    EXPECT_EQ(storage.ReadText(kKey + "\\Edit1_Text", "0"), "0");
}

} // namespace
} // namespace oru
