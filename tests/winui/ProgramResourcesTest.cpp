// The programs' resources as Explorer and Windows read them from the built
// files: the version from project(), the driver's icon, and its manifest
// (per-monitor DPI awareness v2, run as the invoking user).

#include "platform/windows/WideText.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace oru {
namespace {

// The build's programs, in the folder ORU_PROGRAM_DIR names by its Linux
// path; wine shows / as Z:\.
std::wstring programPath(const char* program)
{
    const char* folder = std::getenv("ORU_PROGRAM_DIR");
    if (!folder) return {};
    std::wstring windowsPath = L"Z:" + widen(folder) + L"/" + widen(program);
    for (wchar_t& c : windowsPath) {
        if (c == L'/') c = L'\\';
    }
    return windowsPath;
}

std::string versionString(const std::vector<char>& block, const wchar_t* name)
{
    const std::wstring key = std::wstring(L"\\StringFileInfo\\041F04B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), key.c_str(), &value, &length) || length == 0) return "(none)";
    return narrow(std::wstring_view(static_cast<const wchar_t*>(value), length - 1));
}

TEST(ProgramResources, VersionIconAndManifestAreEmbedded)
{
    struct Row {
        const char* program;
        const char* description;
        bool driver;  // icon and manifest
    };
    const Row rows[] = {
        {"oru-driver.exe", "Oru Akıllı Tahta Sürücüsü", true},
        {"oru-replay.exe", "oruDriver kayıt oynatıcı", false},
#ifdef ORU_RECORD_BUILT
        {"oru-record.exe", "oruDriver kalem izleyici kaydedici", false},
#endif
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.program);
        const std::wstring path = programPath(row.program);
        ASSERT_FALSE(path.empty()) << "ORU_PROGRAM_DIR is not set";

        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource: " << windowsErrorText(GetLastError());
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedLength = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(ORU_VERSION_MAJOR << 16 | ORU_VERSION_MINOR));
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(ORU_VERSION_PATCH << 16));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(versionString(block, L"FileVersion"), ORU_VERSION_TEXT);
        EXPECT_EQ(versionString(block, L"ProductName"), "oruDriver");
        EXPECT_EQ(versionString(block, L"FileDescription"), row.description);
        EXPECT_EQ(versionString(block, L"OriginalFilename"), row.program);

        HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(image, nullptr) << windowsErrorText(GetLastError());
        const HRSRC icon = FindResourceW(image, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
        const HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST);
        EXPECT_EQ(icon != nullptr, row.driver);
        EXPECT_EQ(manifest != nullptr, row.driver);
        if (manifest) {
            const auto* text = static_cast<const char*>(LockResource(LoadResource(image, manifest)));
            const std::string xml(text, SizeofResource(image, manifest));
            for (const char* part : {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                                     "PerMonitorV2, PerMonitor</dpiAwareness>",
                                     ">true/pm</dpiAware>", "level=\"asInvoker\"",
                                     "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "Microsoft.Windows.Common-Controls"}) {
                EXPECT_NE(xml.find(part), std::string::npos) << part;
            }
        }
        if (icon) {
            // The group lists the 16, 32, 48 and 256 pixel images.
            const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(image, icon)));
            const WORD count = *reinterpret_cast<const WORD*>(group + 4);
            EXPECT_EQ(count, 4);
        }
        FreeLibrary(image);
    }
}

} // namespace
} // namespace oru
