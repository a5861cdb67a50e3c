#include "platform/windows/WinDebugOutput.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WinGdi.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace oru {

namespace {
std::atomic<bool> forwarding{false};
}

bool WinDebugOutput::stderrAttached()
{
    return standardStreamAttached(STD_ERROR_HANDLE);
}

bool WinDebugOutput::active()
{
    return forwarding.load();
}

WinDebugOutput::WinDebugOutput(Sink sink) : sink_(std::move(sink))
{
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        throw std::runtime_error("no pipe for stderr's lines: " + windowsErrorText(GetLastError()));
    }
    readEnd_ = readEnd;
    std::fflush(stderr);
    savedStderr_ = _dup(2);  // -1 without a stderr of the program's own
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY);
    _dup2(fd, 2);
    _close(fd);  // fd 2 holds the pipe's write end now
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
    clearerr(stderr);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    forwarding = true;
    reader_ = std::thread([this] {
        std::string line;
        char buffer[512];
        DWORD got = 0;
        const auto emit = [this](const std::string& text) {
            if (sink_) {
                sink_(text);
            } else {
                OutputDebugStringW(widen(text + "\n").c_str());
            }
        };
        while (ReadFile(readEnd_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            for (DWORD i = 0; i < got; ++i) {
                if (buffer[i] == '\n') {
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    emit(line);
                    line.clear();
                } else {
                    line += buffer[i];
                }
            }
        }
        if (!line.empty()) emit(line);
    });
}

WinDebugOutput::~WinDebugOutput()
{
    std::fflush(stderr);
    forwarding = false;
    // Closing fd 2 closes the pipe's last write end: the reader forwards what
    // is left and ends.
    if (savedStderr_ >= 0) {
        _dup2(savedStderr_, 2);
        _close(savedStderr_);
        SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
    } else {
        _close(2);
        SetStdHandle(STD_ERROR_HANDLE, nullptr);
    }
    if (reader_.joinable()) reader_.join();
    CloseHandle(readEnd_);
}

} // namespace oru
