#pragma once

#include "common/CommandLine.h"
#include "platform/MachineCalibration.h"
#include "platform/PointerOutput.h"
#include "platform/linux/SingleInstanceLock.h"

#include <memory>
#include <optional>
#include <string>

#include <QObject>

class QSocketNotifier;

namespace oru {

class DriverBusService;
class OruApplication;
class TMainForm;

/// The Linux driver's command line.
ProgramDescription linuxDriverProgram();

/// What a start does before its windows, in this order: an administrator's
/// command (--save-for-all-users), --quit to the running driver, the
/// refusals (root with another user's home, no graphical session), the quit
/// signals' pipe (quitFd) and this user's single-instance lock, which hands
/// --calibrate to the driver that holds it. A status when the start ends here.
std::optional<int> answerOrStart(int argc, char** argv, const ParsedCommandLine& parsed,
                                 const MachineCalibration& machine, std::optional<SingleInstanceLock>& lock,
                                 int& quitFd);

/// Where the pen's mouse goes in this session: XTest, uinput, or nowhere
/// (said on stderr). uinputRefused: the session needs uinput and the kernel
/// or the node's permissions refused it.
std::unique_ptr<PointerOutput> makePointerOutput(const std::string& pointerOption, bool& uinputRefused);

/// The session around the windows: "Kalibre" and "Çıkış" on the session bus,
/// --calibrate after the first show, the no-tray notice, the uinput balloon,
/// and a quit signal or a log-off ending the run as "Çıkış" does, its errors
/// on stderr. end() once the event loop has ended, before the windows go.
class QtSession {
public:
    QtSession(OruApplication& app, TMainForm& form, SingleInstanceLock& lock, int quitFd, bool calibrate,
              bool uinputRefused);
    ~QtSession();
    void end();

private:
    TMainForm& form_;
    int quitFd_;
    DriverBusService* busService_;
    std::unique_ptr<QSocketNotifier> quitNotifier_;
    QMetaObject::Connection sessionConnection_;
};

/// The process's last step on the way out with status.
int leaveProgram(int status);

} // namespace oru
