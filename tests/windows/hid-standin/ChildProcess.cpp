#include "ChildProcess.h"

#include <stdexcept>

namespace oru::standin {

std::wstring programFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring file(path, length);
    return file.substr(0, file.find_last_of(L"\\/") + 1);
}

ChildProcess::ChildProcess(const std::wstring& commandLine, DWORD flags)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!::CreatePipe(&childIn, &input_, &inherited, 0) || !::CreatePipe(&output_, &childOut, &inherited, 0)) {
        throw std::runtime_error("cannot make pipes for a child process");
    }
    ::SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line = commandLine;
    PROCESS_INFORMATION started{};
    const bool ok =
        ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &started);
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
    if (!ok) throw std::runtime_error("cannot start a child process: error " + std::to_string(::GetLastError()));
    ::CloseHandle(started.hThread);
    process_ = started.hProcess;
    id_ = started.dwProcessId;
}

ChildProcess::~ChildProcess()
{
    closeInput();
    if (process_) {
        if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) ::TerminateProcess(process_, 1);
        ::CloseHandle(process_);
    }
    if (output_) ::CloseHandle(output_);
}

bool ChildProcess::writeLine(const std::string& line)
{
    DWORD written = 0;
    return input_ && ::WriteFile(input_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           ::WriteFile(input_, "\n", 1, &written, nullptr);
}

std::string ChildProcess::readLine()
{
    // Bounded: a child that hangs fails the test instead of stopping it.
    std::string line;
    return readLineWithin(line, 30000) ? line : std::string();
}

bool ChildProcess::readLineWithin(std::string& line, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (true) {
        DWORD available = 0;
        if (!::PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) return false;
        for (char c = 0; available > 0; --available) {
            DWORD got = 0;
            if (!::ReadFile(output_, &c, 1, &got, nullptr) || got != 1) return false;
            if (c == '\n') {
                line = std::move(partial_);
                partial_.clear();
                return true;
            }
            if (c != '\r') partial_ += c;
        }
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(10);
    }
}

bool ChildProcess::nextLineStartsWithOk()
{
    char start[2] = {};
    std::size_t kept = 0;
    char c = 0;
    DWORD got = 0;
    while (::ReadFile(output_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        if (kept < 2) start[kept++] = c;
    }
    return start[0] == 'o' && start[1] == 'k';
}

void ChildProcess::closeInput()
{
    if (input_) ::CloseHandle(input_);
    input_ = nullptr;
}

long ChildProcess::waitForExit(DWORD timeoutMs)
{
    DWORD code = 0;
    if (::WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process_, &code)) {
        return -1;
    }
    return static_cast<long>(code);
}

} // namespace oru::standin
