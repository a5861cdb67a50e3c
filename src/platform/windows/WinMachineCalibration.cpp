#include "platform/windows/WinMachineCalibration.h"

#include "app/CalibrationChoice.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinGdi.h"
#include "platform/windows/WinRegistryStore.h"

#include <sddl.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace oru {

namespace {

constexpr const char* kSaveCommand = "oru-driver.exe --save-for-all-users";
// SYSTEM and Administrators: full control; Users: read. Protected, so that
// nothing inherited from Software adds a writer; owned by Administrators.
constexpr const wchar_t* kMachineKeySecurity = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
constexpr const wchar_t* kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

std::string sidText(PSID sid)
{
    wchar_t* text = nullptr;
    std::string out = "an unknown account";
    if (ConvertSidToStringSidW(sid, &text)) {
        out = narrow(text);
        LocalFree(text);
    }
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        const std::string account = domainSize ? narrow(domain) + "\\" + narrow(name) : narrow(name);
        out = account + " (" + out + ")";
    }
    return out;
}

std::vector<BYTE> tokenInformation(TOKEN_INFORMATION_CLASS what)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetTokenInformation(token, what, data.data(), size, &size)) data.clear();
    CloseHandle(token);
    return data;
}

// Accounts that may own or change the machine's calibration.
bool trustedWriter(PSID sid, PSID self)
{
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return true;
    if (self && EqualSid(sid, self)) return true;
    PSID installer = nullptr;
    if (!ConvertStringSidToSidW(kTrustedInstaller, &installer)) return false;
    const bool same = EqualSid(sid, installer);
    LocalFree(installer);
    return same;
}

std::string currentUserName()
{
    wchar_t name[257];
    DWORD size = 257;
    return GetUserNameW(name, &size) ? narrow(name) : "this account";
}

enum class ValuesRead { Missing, Read, Unreadable, Damaged, Untrusted };

// Edit1_Text ... Edit8_Text of place into a store of the calibration key, as
// the settings would read them; problem says what stops it. With
// checkTrust, a key not every account may trust (untrustedKeyProblem) is not read.
ValuesRead readCalibrationValues(const RegistryPlace& place, bool checkTrust, StoreContents& values,
                                 std::string& problem)
{
    OpenRegistryKey key;
    LSTATUS status = RegOpenKeyExW(place.root, widen(place.keyPath).c_str(), 0, KEY_READ, key.out());
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return ValuesRead::Missing;
    if (status != ERROR_SUCCESS) {
        problem = windowsErrorText(status);
        return ValuesRead::Unreadable;
    }
    if (checkTrust) {
        if (const auto untrusted = untrustedKeyProblem(key.get())) {
            problem = *untrusted;
            return ValuesRead::Untrusted;
        }
    }
    values.createKey(kCalibrationKey);
    for (int edit = 0; edit < 8; ++edit) {
        const std::string name = calibrationValueName(edit);
        const auto raw = readRawRegistryValue(key.get(), widen(name), status);
        if (!raw) {
            if (status == ERROR_FILE_NOT_FOUND) continue;
            problem = "\"" + name + "\" can't be read (" + windowsErrorText(status) + ")";
            return ValuesRead::Unreadable;
        }
        std::string found;
        const auto value = decodeRegistryValue(*raw, found);
        if (!value) {
            problem = "\"" + name + "\" holds " + found;
            return ValuesRead::Damaged;
        }
        values.setValue(kCalibrationKey, name, *value);
    }
    return ValuesRead::Read;
}

void say(const std::string& line)
{
    diagnostic(line);
}

} // namespace

RegistryPlace machineCalibrationPlace()
{
    return {HKEY_LOCAL_MACHINE, kCalibrationKey, "HKEY_LOCAL_MACHINE"};
}

RegistryPlace ownSettingsPlace()
{
    return {HKEY_CURRENT_USER, kCalibrationKey, "HKEY_CURRENT_USER"};
}

bool runsElevated()
{
    const std::vector<BYTE> data = tokenInformation(TokenElevation);
    return data.size() >= sizeof(TOKEN_ELEVATION) && reinterpret_cast<const TOKEN_ELEVATION*>(data.data())->TokenIsElevated;
}

std::optional<std::string> untrustedKeyProblem(HKEY key)
{
    DWORD size = 0;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    RegGetKeySecurity(key, what, nullptr, &size);
    std::vector<BYTE> descriptor(size);
    const LSTATUS status =
        size ? RegGetKeySecurity(key, what, descriptor.data(), &size) : static_cast<LSTATUS>(ERROR_INVALID_DATA);
    if (status != ERROR_SUCCESS) return "its permissions can't be read (" + windowsErrorText(status) + ")";

    const std::vector<BYTE> user = tokenInformation(TokenUser);
    PSID self = user.size() >= sizeof(TOKEN_USER) ? reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid : nullptr;

    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) || !owner) {
        return std::string("it has no owner");
    }
    // An owner may always rewrite the access list.
    if (!trustedWriter(owner, self)) return "it belongs to " + sidText(owner);

    BOOL present = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted)) {
        return std::string("its access list can't be read");
    }
    if (!present || !acl) return std::string("it has no access list, so every account may change it");
    constexpr ACCESS_MASK kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                         WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD index = 0; index < acl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(acl, index, &entry)) return std::string("its access list can't be read");
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // Entries that only pass on to subkeys grant nothing here; denials never grant.
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kWriteRights) == 0) continue;
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (!trustedWriter(sid, self)) return sidText(sid) + " may change it";
    }
    return std::nullopt;
}

std::optional<CalibrationTexts> loadMachineCalibrationWindows(const RegistryPlace& place)
{
    const std::string shown = place.shown();
    const std::string again = ". Save it again from a calibrated account, in an administrator prompt: " +
                              std::string(kSaveCommand);
    StoreContents values;
    std::string problem;
    switch (readCalibrationValues(place, true, values, problem)) {
    case ValuesRead::Missing:
        return std::nullopt;
    case ValuesRead::Unreadable:
        say("cannot read the machine's calibration " + shown + " (" + problem +
            "); it is ignored. Give Users read access to the key (regedit, Permissions)" + again);
        return std::nullopt;
    case ValuesRead::Damaged:
        say("the machine's calibration " + shown + " is damaged (" + problem + "); it is ignored and left as it is" +
            again);
        return std::nullopt;
    case ValuesRead::Untrusted:
        say("the machine's calibration " + shown + " is not used, since only a key nobody but administrators " +
            "could have written serves every account: " + problem + again);
        return std::nullopt;
    case ValuesRead::Read:
        break;
    }
    auto texts = servingCalibrationIn(values, problem);
    if (!problem.empty()) {
        say("the machine's calibration " + shown + " is not used: " + problem + again);
        return std::nullopt;
    }
    return texts;
}

int saveCalibrationForAllUsersWindows(std::string* message)
{
    return saveCalibrationForAllUsersWindows(ownSettingsPlace(), machineCalibrationPlace(), runsElevated(), message);
}

int WinMachineCalibration::saveForAllUsers() const
{
    std::string line;
    const int status = saveCalibrationForAllUsersWindows(&line);
    // Without a console the line would reach nobody but a debugger.
    if (!standardStreamAttached(STD_OUTPUT_HANDLE) && !standardStreamAttached(STD_ERROR_HANDLE) && !line.empty()) {
        MessageBoxW(nullptr, widen(line).c_str(), L"oruDriver", MB_OK | (status == 0 ? MB_ICONINFORMATION : MB_ICONERROR));
    }
    return status;
}

int saveCalibrationForAllUsersWindows(const RegistryPlace& own, const RegistryPlace& machine, bool elevated,
                                      std::string* message)
{
    const auto say = [message](const std::string& line) {
        diagnostic(line);
        if (message) *message = line;
    };
    const std::string user = currentUserName();
    StoreContents values;
    std::string problem;
    std::optional<CalibrationTexts> texts;
    {
        switch (readCalibrationValues(own, false, values, problem)) {
        case ValuesRead::Missing:
            break;
        case ValuesRead::Unreadable:
        case ValuesRead::Untrusted:
            say("nothing saved: cannot read " + user + "'s settings " + own.shown() + " (" + problem +
                "); give " + user + " full control of the key (regedit, Permissions), calibrate again, then run "
                "this again");
            return 1;
        case ValuesRead::Damaged:
            say("nothing saved: " + user + "'s settings " + own.shown() + " are damaged (" + problem +
                "); start oru-driver.exe as " + user + " once (it keeps the damaged value aside), calibrate, end "
                "the driver, then run this again");
            return 1;
        case ValuesRead::Read:
            texts = servingCalibrationIn(values, problem);
            break;
        }
    }
    if (!texts) {
        say(shareRefusal(user, own.shown(), problem));
        return 1;
    }
    const std::string adminAdvice =
        "run it from an administrator prompt (right-click \"Command Prompt\", \"Run as administrator\"), signed in "
        "as the account that calibrated: " + std::string(kSaveCommand);
    if (!elevated) {
        say("nothing saved: the machine's calibration " + machine.shown() + " can only be written with "
            "administrator rights; " + adminAdvice);
        return 1;
    }

    auto failed = [&](const std::string& step, LSTATUS status) {
        say("nothing saved: cannot " + step + " the machine's calibration " + machine.shown() + " (" +
            windowsErrorText(status) + "); " +
            (status == ERROR_ACCESS_DENIED ? adminAdvice : "make sure the registry is not full or damaged"));
        return 1;
    };
    OpenRegistryKey key;
    LSTATUS status = RegCreateKeyExW(machine.root, widen(machine.keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_READ | KEY_WRITE | WRITE_DAC | WRITE_OWNER, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS) return failed("create", status);

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMachineKeySecurity, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return failed("protect", static_cast<LSTATUS>(GetLastError()));
    }
    const std::unique_ptr<void, LocalFreer> descriptorOwner(descriptor);
    // Access list first: without it nothing is written. Giving the key to
    // Administrators may be refused where the account can't name that owner;
    // an administrator's own key passes the check as well.
    status = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
    if (status != ERROR_SUCCESS) return failed("protect", status);
    RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION, descriptor);

    for (int edit = 0; edit < 8; ++edit) {
        const RawRegistryValue raw = WinRegistryStore::encode(StoredValue::ofText((*texts)[edit]));
        status = RegSetValueExW(key.get(), widen(calibrationValueName(edit)).c_str(), 0, raw.type, raw.bytes.data(),
                                static_cast<DWORD>(raw.bytes.size()));
        if (status != ERROR_SUCCESS) return failed("write", status);
    }
    const std::string saved = user + "'s calibration is saved for every account on this machine in " + machine.shown();
    std::printf("oruDriver: %s\n", saved.c_str());
    std::fflush(stdout);
    if (message) *message = saved;
    return 0;
}

} // namespace oru
