#pragma once

// GDI pieces the Windows windows and their tests share.

#include <windows.h>

namespace oru {

/// A 32-bit bitmap of width x height whose rows run top-down, its pixels
/// (0x00RRGGBB) at *bits for direct reads and writes. Null when GDI refuses.
inline HBITMAP createTopDownBitmap(HDC dc, int width, int height, void** bits)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

/// Whether the process has a stream of its own for a standard handle
/// (STD_OUTPUT_HANDLE, STD_ERROR_HANDLE): a console or a redirection. A
/// program without a console has none.
inline bool standardStreamAttached(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace oru
