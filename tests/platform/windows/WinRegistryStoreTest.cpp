// The per-user settings in the registry: what lands there, bit for bit, and
// what a damaged value does to a restore.

#include "RegistryTestSupport.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WinRegistryStore.h"
#include "settings/AppRegistryStorage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>

#include <optional>
#include <string>
#include <vector>

namespace oru {
namespace {

using test::readRaw;
using test::ScratchKey;
using test::utf16Bytes;
using test::writeRaw;

std::vector<BYTE> dword(std::uint32_t value)
{
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

// Names of the values in key, as stored.
std::vector<std::wstring> valueNames(HKEY root, const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        DWORD size = 512;
        if (RegEnumValueW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    RegCloseKey(key);
    return names;
}

TEST(WinRegistryStore, WritesDwordsAndUtf16TextsAndReadsThemBack)
{
    struct Row {
        const char* name;
        StoredValue value;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    const Row rows[] = {
        {"zero", StoredValue::ofNumber(0), REG_DWORD, dword(0)},
        {"minus one", StoredValue::ofNumber(-1), REG_DWORD, dword(0xFFFFFFFF)},
        {"lowest", StoredValue::ofNumber(INT32_MIN), REG_DWORD, dword(0x80000000)},
        {"highest", StoredValue::ofNumber(INT32_MAX), REG_DWORD, dword(0x7FFFFFFF)},
        {"empty text", StoredValue::ofText(""), REG_SZ, {0, 0}},
        {"digits", StoredValue::ofText("-150"), REG_SZ, utf16Bytes(L"-150")},
        {"Turkish", StoredValue::ofText("Çıkış"), REG_SZ, utf16Bytes(L"\u00C7\u0131k\u0131\u015F")},
        {"beyond the BMP", StoredValue::ofText("\xF0\x9F\x98\x80"), REG_SZ, utf16Bytes(L"\xD83D\xDE00")},
        {"placement", StoredValue::ofText("-1,-1,-32000,-32000"), REG_SZ, utf16Bytes(L"-1,-1,-32000,-32000")},
    };
    ScratchKey scratch(HKEY_CURRENT_USER, "roundtrip");
    WinRegistryStore store;
    const std::string keyPath = scratch.path() + "\\Software\\oruDriver";
    EXPECT_EQ(store.keyState(keyPath), RegistryStore::KeyState::Missing);
    ASSERT_TRUE(store.createKey(keyPath));
    EXPECT_EQ(store.keyState(scratch.path()), RegistryStore::KeyState::Present);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(store.setValue(keyPath, row.name, row.value));
        const RawRegistryValue stored = readRaw(HKEY_CURRENT_USER, widen(keyPath), widen(row.name));
        EXPECT_EQ(stored.type, row.type);
        EXPECT_EQ(stored.bytes, row.bytes);
        EXPECT_EQ(store.queryValue(keyPath, row.name), row.value);
        // Names match in any letter case.
        std::string upper = row.name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(store.queryValue(keyPath, upper), row.value);
    }
}

TEST(WinRegistryStore, AnUnusableValueFallsBackToTheDefaultIsKeptAsideAndTheRestoreGoesOn)
{
    struct Row {
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
        std::optional<StoredValue> read;  // nothing: unusable
        const char* said;                 // what stderr says it holds
    };
    std::vector<BYTE> overLong = utf16Bytes(std::wstring(kMaxRegistryTextBytes / 2, L'7'));
    std::vector<BYTE> nulInside = utf16Bytes(std::wstring(L"12\0" L"34", 5));
    std::vector<BYTE> twoNuls = utf16Bytes(L"42");
    twoNuls.insert(twoNuls.end(), {0, 0});
    std::vector<BYTE> qword = dword(5);
    qword.insert(qword.end(), {1, 0, 0, 0});
    const Row rows[] = {
        // Taken, though the driver writes none of them.
        {"expandable text, not expanded", REG_EXPAND_SZ, utf16Bytes(L"%TEMP%"), StoredValue::ofText("%TEMP%"), ""},
        {"binary UTF-16 text", REG_BINARY, utf16Bytes(L"42"), StoredValue::ofText("42"), ""},
        {"two terminating NULs", REG_SZ, twoNuls, StoredValue::ofText("42"), ""},
        {"qword: low 32 bits", REG_QWORD, qword, StoredValue::ofNumber(5), ""},
        {"short dword", REG_DWORD, {7, 1}, StoredValue::ofNumber(263), ""},
        // Not taken.
        {"multi-string", REG_MULTI_SZ, utf16Bytes(std::wstring(L"1\0" L"2\0", 4)), std::nullopt, "REG_MULTI_SZ"},
        {"empty dword", REG_DWORD, {}, std::nullopt, "REG_DWORD of 0 bytes"},
        {"over-long qword", REG_QWORD, std::vector<BYTE>(12, 1), std::nullopt, "REG_QWORD of 12 bytes"},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, dword(5), std::nullopt, "REG_DWORD_BIG_ENDIAN"},
        {"odd byte count", REG_SZ, {'4', 0, '2'}, std::nullopt, "can't be UTF-16"},
        {"no terminating NUL", REG_SZ, utf16Bytes(L"1234", false), std::nullopt, "terminating NUL"},
        {"empty, not even a NUL", REG_SZ, {}, std::nullopt, "terminating NUL"},
        {"NUL inside", REG_SZ, nulInside, std::nullopt, "NUL inside"},
        {"unpaired surrogate", REG_SZ, utf16Bytes(L"1\xD800" L"2"), std::nullopt, "unpaired surrogate"},
        {"over-long text", REG_SZ, overLong, std::nullopt, "more than the 64 KiB"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchKey scratch(HKEY_CURRENT_USER, "damaged");
        const std::wstring key = scratch.wide();
        ASSERT_TRUE(writeRaw(HKEY_CURRENT_USER, key, L"Edit1_Text", row.type, row.bytes));
        ASSERT_TRUE(writeRaw(HKEY_CURRENT_USER, key, L"Edit2_Text", REG_SZ, utf16Bytes(L"-150")));
        // Some versions of wine mend what RegSetValueExW is given; only what is stored counts.
        const RawRegistryValue stored = readRaw(HKEY_CURRENT_USER, key, L"Edit1_Text");
        ASSERT_EQ(stored.type, row.type);
        ASSERT_EQ(stored.bytes, row.bytes);

        WinRegistryStore store;
        TAppRegistryStorage storage(store);
        testing::internal::CaptureStderr();
        const auto value = store.queryValue(scratch.path(), "Edit1_Text");
        // What the settings layer restores: the default, and the next value as usual.
        const bool number = row.read && row.read->kind == StoredKind::Number;
        const std::string text =
            number ? "" : storage.ReadText(scratch.path() + "\\Edit1_Text", "default");
        const std::string next = storage.ReadText(scratch.path() + "\\Edit2_Text", "default");
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(value, row.read);
        EXPECT_EQ(next, "-150");
        const std::vector<std::wstring> names = valueNames(HKEY_CURRENT_USER, key);
        const auto copy = std::find_if(names.begin(), names.end(),
                                       [](const std::wstring& name) { return name.starts_with(L"Edit1_Text.damaged-"); });
        if (row.read) {
            EXPECT_EQ(said, "") << said;
            EXPECT_EQ(copy, names.end());
            continue;
        }
        EXPECT_EQ(text, "default");
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
        EXPECT_NE(said.find("the next save replaces it"), std::string::npos) << said;
        // Said once, kept once, type and bytes as they were.
        EXPECT_EQ(said.find("oruDriver:", 1), std::string::npos) << said;
        ASSERT_NE(copy, names.end());
        const auto copies = [&] {
            const std::vector<std::wstring> now = valueNames(HKEY_CURRENT_USER, key);
            return std::count_if(now.begin(), now.end(),
                                 [](const std::wstring& name) { return name.starts_with(L"Edit1_Text."); });
        };
        EXPECT_EQ(copies(), 1);
        const RawRegistryValue kept = readRaw(HKEY_CURRENT_USER, key, *copy);
        EXPECT_EQ(kept.type, row.type);
        EXPECT_EQ(kept.bytes, row.bytes);
        // A later start that meets it again, before any save, keeps one copy of it, not two.
        testing::internal::CaptureStderr();
        WinRegistryStore().queryValue(scratch.path(), "Edit1_Text");
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(copies(), 1);
        // The next save replaces it.
        storage.WriteText(scratch.path() + "\\Edit1_Text", "100");
        EXPECT_EQ(store.queryValue(scratch.path(), "Edit1_Text"), StoredValue::ofText("100"));
    }
}

TEST(WinRegistryStore, DamageKeptWithinOneSecondNeverReplacesAnEarlierCopy)
{
    ScratchKey scratch(HKEY_CURRENT_USER, "same-second");
    const std::wstring key = scratch.wide();
    // Copies of other damage named for this second and the next four.
    std::vector<std::pair<std::wstring, std::vector<BYTE>>> earlier;
    for (int second = 0; second < 5; ++second) {
        const std::time_t at = std::time(nullptr) + second;
        std::tm utc{};
        char stamp[32] = "";
        gmtime_s(&utc, &at);
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
        earlier.emplace_back(L"Edit1_Text.damaged-" + widen(stamp), utf16Bytes(L"earlier " + std::to_wstring(second)));
        ASSERT_TRUE(writeRaw(HKEY_CURRENT_USER, key, earlier.back().first, REG_SZ, earlier.back().second));
    }
    ASSERT_TRUE(writeRaw(HKEY_CURRENT_USER, key, L"Edit1_Text", REG_MULTI_SZ, utf16Bytes(L"1")));
    testing::internal::CaptureStderr();
    WinRegistryStore().queryValue(scratch.path(), "Edit1_Text");
    testing::internal::GetCapturedStderr();
    for (const auto& [name, bytes] : earlier) EXPECT_EQ(readRaw(HKEY_CURRENT_USER, key, name).bytes, bytes);
    EXPECT_EQ(valueNames(HKEY_CURRENT_USER, key).size(), earlier.size() + 2);
}

TEST(WinRegistryStore, AnUpdateStoresAllOfItsWritesOrNone)
{
    ScratchKey scratch(HKEY_CURRENT_USER, "update");
    const std::string kept = scratch.path() + "\\Kept";
    const std::string fresh = scratch.path() + "\\Fresh\\Deeper";
    const std::string locked = scratch.path() + "\\Locked";
    WinRegistryStore store;
    ASSERT_TRUE(store.createKey(kept));
    ASSERT_TRUE(store.setValue(kept, "Edit1_Text", StoredValue::ofText("1")));

    // Dropped: nothing reaches the registry, though reads saw the held writes.
    store.beginUpdate();
    ASSERT_TRUE(store.setValue(kept, "Edit1_Text", StoredValue::ofText("2")));
    ASSERT_TRUE(store.createKey(fresh));
    ASSERT_TRUE(store.setValue(fresh, "FormVersion", StoredValue::ofNumber(0)));
    EXPECT_EQ(store.queryValue(kept, "EDIT1_TEXT"), StoredValue::ofText("2"));
    EXPECT_EQ(store.keyState(fresh), RegistryStore::KeyState::Present);
    EXPECT_EQ(store.keyState(scratch.path() + "\\fresh"), RegistryStore::KeyState::Present);
    EXPECT_EQ(readRaw(HKEY_CURRENT_USER, widen(kept), L"Edit1_Text").bytes, utf16Bytes(L"1"));
    EXPECT_TRUE(store.endUpdate(false));
    EXPECT_EQ(store.queryValue(kept, "Edit1_Text"), StoredValue::ofText("1"));
    EXPECT_EQ(store.keyState(fresh), RegistryStore::KeyState::Missing);

    // Kept: all of it.
    store.beginUpdate();
    ASSERT_TRUE(store.setValue(kept, "Edit1_Text", StoredValue::ofText("2")));
    ASSERT_TRUE(store.createKey(fresh));
    ASSERT_TRUE(store.setValue(fresh, "FormVersion", StoredValue::ofNumber(3)));
    EXPECT_TRUE(store.endUpdate(true));
    EXPECT_EQ(store.queryValue(kept, "Edit1_Text"), StoredValue::ofText("2"));
    EXPECT_EQ(store.queryValue(fresh, "FormVersion"), StoredValue::ofNumber(3));

    // A key this account may read but not write: the update fails at its last
    // write, and what came before is put back.
    ASSERT_TRUE(store.createKey(locked));
    ASSERT_TRUE(test::setKeySecurity(HKEY_CURRENT_USER, widen(locked), L"D:P(A;;KR;;;WD)",
                                     DACL_SECURITY_INFORMATION));
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, widen(locked).c_str(), 0, KEY_SET_VALUE, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        GTEST_SKIP() << "this registry does not enforce a key's access list";
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, widen(scratch.path() + "\\Fresh").c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, widen(scratch.path() + "\\Fresh").c_str());
    store.beginUpdate();
    ASSERT_TRUE(store.setValue(kept, "Edit1_Text", StoredValue::ofText("3")));
    ASSERT_TRUE(store.setValue(kept, "Edit2_Text", StoredValue::ofText("4")));
    ASSERT_TRUE(store.createKey(fresh));
    ASSERT_TRUE(store.setValue(locked, "Edit1_Text", StoredValue::ofText("5")));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(store.endUpdate(true));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot write \"Edit1_Text\""), std::string::npos) << said;
    EXPECT_EQ(store.queryValue(kept, "Edit1_Text"), StoredValue::ofText("2"));
    EXPECT_EQ(store.queryValue(kept, "Edit2_Text"), std::nullopt);
    EXPECT_EQ(store.keyState(scratch.path() + "\\Fresh"), RegistryStore::KeyState::Missing);

    // A key this account may not even read.
    ASSERT_TRUE(test::setKeySecurity(HKEY_CURRENT_USER, widen(locked), L"D:P", DACL_SECURITY_INFORMATION));
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.keyState(locked), RegistryStore::KeyState::Unreadable);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open"), std::string::npos);
    // Give it back, so that the scratch key can be removed.
    ASSERT_TRUE(test::setKeySecurity(HKEY_CURRENT_USER, widen(locked), L"D:(A;;KA;;;WD)", DACL_SECURITY_INFORMATION));
}

} // namespace
} // namespace oru
