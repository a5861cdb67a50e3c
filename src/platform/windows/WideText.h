#pragma once

// UTF-8 (the core's texts) <-> UTF-16 (Windows' wide-character functions), at
// the boundary to Windows only. No code page is assumed anywhere: Turkish
// texts such as "Çıkış" survive any system locale.

#include <string>
#include <string_view>

namespace oru {

/// UTF-16 of a UTF-8 text; invalid sequences become U+FFFD.
std::wstring widen(std::string_view utf8);
/// UTF-8 of a UTF-16 text; unpaired surrogates become U+FFFD.
std::string narrow(std::wstring_view utf16);

/// Windows' own words for a system error code (GetLastError, an HRESULT's
/// code), in English where the system has them, without the trailing line
/// break; "error N" when Windows has no text for it.
std::string windowsErrorText(unsigned long code);

/// One line for administrators: to the debugger's output stream (DebugView,
/// a debugger) and to stderr when the program has one (a console start,
/// redirected output in tests). Prefixed "oruDriver: ".
void diagnostic(const std::string& line);

} // namespace oru
