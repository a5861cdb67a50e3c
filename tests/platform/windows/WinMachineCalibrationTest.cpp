// The machine's calibration in HKEY_LOCAL_MACHINE: which keys every account
// may trust, and what `--save-for-all-users` copies or refuses.

#include "RegistryTestSupport.h"

#include "app/CalibrationChoice.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinMachineCalibration.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace oru {
namespace {

using test::readRaw;
using test::ScratchKey;
using test::setKeySecurity;
using test::utf16Bytes;
using test::writeRaw;

const CalibrationTexts kTexts{"100", "-150", "550", "-160", "110", "-500", "540", "-510"};
const CalibrationTexts kZero{"0", "0", "0", "0", "0", "0", "0", "0"};
const CalibrationTexts kFlat{"7", "7", "7", "7", "7", "7", "7", "7"};

constexpr const wchar_t* kAdminsOnly = L"O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)";

void writeTexts(HKEY root, const std::wstring& key, const CalibrationTexts& texts)
{
    for (int edit = 0; edit < 8; ++edit) {
        ASSERT_TRUE(writeRaw(root, key, widen(calibrationValueName(edit)), REG_SZ, utf16Bytes(widen(texts[edit]))));
    }
}

RegistryPlace placeOf(const ScratchKey& key)
{
    return {key.root(), key.path(), key.root() == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"};
}

TEST(WinMachineCalibration, ServesOnlyFromAKeyOfAdministratorsWithACompletedCalibration)
{
    struct Row {
        const char* name;
        std::function<void(const std::wstring&)> arrange;  // the key exists, admins-only, with kTexts
        std::optional<CalibrationTexts> loaded;
        const char* said;  // "": nothing
    };
    const auto lm = HKEY_LOCAL_MACHINE;
    const auto security = [lm](const wchar_t* sddl, SECURITY_INFORMATION what) {
        return [=](const std::wstring& key) { ASSERT_TRUE(setKeySecurity(lm, key, sddl, what)); };
    };
    const Row rows[] = {
        {"administrators' key", [](const std::wstring&) {}, kTexts, ""},
        {"no key", [lm](const std::wstring& key) { RegDeleteTreeW(lm, key.c_str()); RegDeleteKeyW(lm, key.c_str()); },
         std::nullopt, ""},
        {"no calibration", [lm](const std::wstring& key) { writeTexts(lm, key, kZero); }, std::nullopt, ""},
        {"Users may write", security(L"D:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)(A;;KW;;;BU)", DACL_SECURITY_INFORMATION),
         std::nullopt, "may change it"},
        {"Everyone may set values", security(L"D:P(A;;KA;;;BA)(A;CI;0x2;;;WD)", DACL_SECURITY_INFORMATION),
         std::nullopt, "may change it"},
        {"inherit-only write grants nothing here", security(L"D:P(A;;KA;;;BA)(A;CIIO;KA;;;BU)(A;;KR;;;BU)",
                                                            DACL_SECURITY_INFORMATION),
         kTexts, ""},
        {"no access list",
         [lm](const std::wstring& key) {
             SECURITY_DESCRIPTOR descriptor;
             InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
             SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
             HKEY opened = nullptr;
             ASSERT_EQ(RegOpenKeyExW(lm, key.c_str(), 0, WRITE_DAC, &opened), ERROR_SUCCESS);
             EXPECT_EQ(RegSetKeySecurity(opened, DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);
             RegCloseKey(opened);
         },
         std::nullopt, "no access list"},
        {"owned by Users", security(L"O:BU", OWNER_SECURITY_INFORMATION), std::nullopt, "belongs to"},
        {"all texts alike", [lm](const std::wstring& key) { writeTexts(lm, key, kFlat); }, std::nullopt,
         "can't be fitted"},
        {"not a number",
         [lm](const std::wstring& key) { ASSERT_TRUE(writeRaw(lm, key, L"Edit8_Text", REG_SZ, utf16Bytes(L"abc"))); },
         std::nullopt, "not a decimal integer"},
        {"a dword text",
         [lm](const std::wstring& key) { ASSERT_TRUE(writeRaw(lm, key, L"Edit2_Text", REG_DWORD, {1, 0, 0, 0})); },
         std::nullopt, "a number where a text belongs"},
        {"damaged text",
         [lm](const std::wstring& key) { ASSERT_TRUE(writeRaw(lm, key, L"Edit3_Text", REG_SZ, {'5', 0, '5'})); },
         std::nullopt, "is damaged"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchKey scratch(HKEY_LOCAL_MACHINE, "machine");
        writeTexts(lm, scratch.wide(), kTexts);
        ASSERT_TRUE(setKeySecurity(lm, scratch.wide(), kAdminsOnly, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION));
        row.arrange(scratch.wide());
        testing::internal::CaptureStderr();
        const auto loaded = loadMachineCalibrationWindows(placeOf(scratch));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(loaded, row.loaded);
        if (*row.said == '\0') {
            EXPECT_EQ(said, "");
        } else {
            EXPECT_NE(said.find(row.said), std::string::npos) << said;
            EXPECT_NE(said.find("--save-for-all-users"), std::string::npos) << said;
        }
        // Whatever was found stays as it was.
        if (scratch.path().size()) {
            setKeySecurity(lm, scratch.wide(), L"O:BAD:(A;;KA;;;WD)", DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION);
        }
    }
}

TEST(WinMachineCalibration, SaveForAllUsersCopiesACalibrationThatCanServeAndLocksTheKey)
{
    struct Row {
        const char* name;
        std::function<void(const std::wstring&)> arrangeOwn;
        bool elevated;
        int status;
        const char* said;
    };
    const auto cu = HKEY_CURRENT_USER;
    const Row rows[] = {
        {"calibrated", [cu](const std::wstring& key) { writeTexts(cu, key, kTexts); }, true, 0, ""},
        {"no settings at all", [](const std::wstring&) {}, true, 1, "calibrate first"},
        {"no calibration", [cu](const std::wstring& key) { writeTexts(cu, key, kZero); }, true, 1, "calibrate first"},
        {"all texts alike", [cu](const std::wstring& key) { writeTexts(cu, key, kFlat); }, true, 1, "can't be fitted"},
        {"damaged value",
         [cu](const std::wstring& key) {
             writeTexts(cu, key, kTexts);
             ASSERT_TRUE(writeRaw(cu, key, L"Edit5_Text", REG_MULTI_SZ, utf16Bytes(L"110")));
         },
         true, 1, "damaged"},
        {"not elevated", [cu](const std::wstring& key) { writeTexts(cu, key, kTexts); }, false, 1,
         "administrator prompt"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchKey own(HKEY_CURRENT_USER, "own");
        ScratchKey machine(HKEY_LOCAL_MACHINE, "machine");
        row.arrangeOwn(own.wide());
        // A key left writable for Users by someone else is locked by the save.
        ASSERT_TRUE(setKeySecurity(HKEY_LOCAL_MACHINE, machine.wide(), L"D:(A;;KA;;;BA)(A;;KA;;;BU)",
                                   DACL_SECURITY_INFORMATION));
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        std::string message;
        const int status = saveCalibrationForAllUsersWindows(placeOf(own), placeOf(machine), row.elevated, &message);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, row.status);
        // What a message box would show is the line that was written.
        EXPECT_EQ("oruDriver: " + message + "\n", row.status == 0 ? out : said);
        if (row.status == 0) {
            EXPECT_EQ(said, "");
            EXPECT_NE(out.find("saved for every account"), std::string::npos) << out;
            EXPECT_NE(out.find(placeOf(machine).shown()), std::string::npos) << out;
            for (int edit = 0; edit < 8; ++edit) {
                const RawRegistryValue stored =
                    readRaw(HKEY_LOCAL_MACHINE, machine.wide(), widen(calibrationValueName(edit)));
                EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
                EXPECT_EQ(stored.bytes, utf16Bytes(widen(kTexts[edit])));
            }
            testing::internal::CaptureStderr();
            EXPECT_EQ(loadMachineCalibrationWindows(placeOf(machine)), kTexts);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        } else {
            EXPECT_EQ(out, "");
            EXPECT_NE(said.find("nothing saved"), std::string::npos) << said;
            EXPECT_NE(said.find(row.said), std::string::npos) << said;
            EXPECT_EQ(readRaw(HKEY_LOCAL_MACHINE, machine.wide(), L"Edit1_Text").type, static_cast<DWORD>(REG_NONE));
        }
    }
}

} // namespace
} // namespace oru
