#include "platform/windows/WideText.h"

#include "platform/windows/WinDebugOutput.h"

#include <windows.h>

#include <cstdio>

namespace oru {

std::wstring widen(std::string_view utf8)
{
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string narrow(std::wstring_view utf16)
{
    if (utf16.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), text.data(), size, nullptr,
                        nullptr);
    return text;
}

std::string windowsErrorText(unsigned long code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length && buffer) {
        text = narrow(std::wstring_view(buffer, length));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                                 text.back() == '.')) {
            text.pop_back();
        }
    }
    if (buffer) LocalFree(buffer);
    return text.empty() ? "error " + std::to_string(code) : text;
}

void diagnostic(const std::string& line)
{
    const std::string text = "oruDriver: " + line + "\n";
    // A forwarder takes stderr's lines to the debugger already.
    if (!WinDebugOutput::active()) OutputDebugStringW(widen(text).c_str());
    // A -mwindows program has no console; stderr is only there when redirected.
    if (std::fputs(text.c_str(), stderr) >= 0) std::fflush(stderr);
}

} // namespace oru
