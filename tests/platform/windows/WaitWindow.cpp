// oru-wait-window.exe CLASS SECONDS [gone]: waits until a top-level window of
// the class is there (or, with "gone", no longer there). Exit status 0 when
// it happened, 1 when SECONDS passed first, 2 on a usage error. For scripts
// that start the Windows program under wine.
// oru-wait-window.exe --hold FILE: holds FILE open as Windows holds a running
// program's file (read, delete; no write sharing), says "held", and ends when
// its standard input closes.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"--hold") == 0) {
        const HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        std::fputws(L"held\n", stdout);
        std::fflush(stdout);
        while (std::fgetwc(stdin) != WEOF) {
        }
        CloseHandle(file);
        return 0;
    }
    if (argc < 3 || (argc == 4 && std::wcscmp(argv[3], L"gone") != 0) || argc > 4) {
        std::fputws(L"usage: oru-wait-window.exe CLASS SECONDS [gone]\n", stderr);
        return 2;
    }
    const bool gone = argc == 4;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::wcstod(argv[2], nullptr) * 1000);
    for (;;) {
        if ((FindWindowW(argv[1], nullptr) != nullptr) != gone) return 0;
        if (GetTickCount64() >= deadline) return 1;
        Sleep(50);
    }
}
