#include "StandinControl.h"

#include "StandinProtocol.h"

#include <stdexcept>

namespace oru::standin {

namespace {

std::wstring programFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

} // namespace

StandinControl::StandinControl(const std::wstring& world)
{
    ::SetEnvironmentVariableW(kNameVariable, world.c_str());
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!::CreatePipe(&childIn, &toStandin_, &inherited, 0) || !::CreatePipe(&fromStandin_, &childOut, &inherited, 0)) {
        throw std::runtime_error("cannot make pipes for oru-pen-standin.exe");
    }
    ::SetHandleInformation(toStandin_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(fromStandin_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::wstring commandLine = L"\"" + programFolder() + L"oru-pen-standin.exe\"";
    PROCESS_INFORMATION started{};
    const bool ok = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &startup, &started);
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
    if (!ok) throw std::runtime_error("cannot start oru-pen-standin.exe next to the test program");
    ::CloseHandle(started.hThread);
    process_ = started.hProcess;
    if (readLine() != "ok ready") throw std::runtime_error("oru-pen-standin.exe did not get ready");
}

StandinControl::~StandinControl()
{
    if (toStandin_) {
        command("quit");
        ::CloseHandle(toStandin_);
    }
    if (process_) {
        ::WaitForSingleObject(process_, 10000);
        ::CloseHandle(process_);
    }
    if (fromStandin_) ::CloseHandle(fromStandin_);
}

std::string StandinControl::command(const std::string& line)
{
    const std::string text = line + "\n";
    DWORD written = 0;
    if (!::WriteFile(toStandin_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return "error gone";
    return readLine();
}

bool StandinControl::post(const std::string& line)
{
    DWORD written = 0;
    return ::WriteFile(toStandin_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           ::WriteFile(toStandin_, "\n", 1, &written, nullptr);
}

bool StandinControl::awaitOk()
{
    char start[2] = {};
    std::size_t got = 0;
    char c = 0;
    DWORD read = 0;
    while (::ReadFile(fromStandin_, &c, 1, &read, nullptr) && read == 1 && c != '\n') {
        if (got < 2) start[got++] = c;
    }
    return start[0] == 'o' && start[1] == 'k';
}

std::string StandinControl::readLine()
{
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (::ReadFile(fromStandin_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        if (c != '\r') line += c;
    }
    return line;
}

} // namespace oru::standin
