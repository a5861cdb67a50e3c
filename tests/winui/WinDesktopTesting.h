#pragma once

// Helpers of the tests that drive windows on the wine prefix's X server.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

namespace oru::testing {

/// Runs the thread's messages until done() holds or the time is up; waits
/// for the next message (or the next 10 ms, for conditions no message
/// announces, such as pixels on the screen) between looks. True when done.
/// Wine lets an X window manager manage a window that covers the screen, and
/// waits up to 2 s for one to withdraw it at each hide or destroy; the
/// prefix's X server has none. For this program only (wine's per-program
/// settings); call before the program's first window, which loads wine's X11
/// driver, the reader of the setting.
inline void withoutWindowManager()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c; ++c) {
        if (*c == L'\\' || *c == L'/') name = c + 1;
    }
    const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + name + L"\\X11 Driver";
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(handle, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
        RegCloseKey(handle);
    }
}

inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

} // namespace oru::testing
