#include "StandinControl.h"

#include "StandinProtocol.h"

#include <stdexcept>

namespace oru::standin {

StandinControl::StandinControl(const std::wstring& world)
{
    ::SetEnvironmentVariableW(kNameVariable, world.c_str());
    program_ = std::make_unique<ChildProcess>(L"\"" + programFolder() + L"oru-pen-standin.exe\"");
    if (program_->readLine() != "ok ready") throw std::runtime_error("oru-pen-standin.exe did not get ready");
}

StandinControl::~StandinControl()
{
    command("quit");
    program_->closeInput();
    program_->waitForExit(10000);
}

std::string StandinControl::command(const std::string& line)
{
    if (!program_->writeLine(line)) return "error gone";
    return program_->readLine();
}

} // namespace oru::standin
