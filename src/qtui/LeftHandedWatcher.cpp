#include "qtui/LeftHandedWatcher.h"

#include "platform/linux/UinputPointerOutput.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <optional>

namespace oru {

namespace {

// gsettings' answer ("true") or a monitor line ("left-handed: true").
bool gnomeLineSaysLeftHanded(const QByteArray& line)
{
    return line.trimmed().endsWith("true");
}

// sway's view of one input device (get_inputs entry, or an input event's
// "input"): whether it is the pen's pointer, and whether it is left-handed.
std::optional<bool> swayInputLeftHanded(const QJsonObject& input)
{
    if (input.value("name").toString() != QLatin1String(kUinputDeviceName)) return std::nullopt;
    return input.value("libinput").toObject().value("left_handed").toString() == QLatin1String("enabled");
}

} // namespace

LeftHandedWatcher::LeftHandedWatcher(UinputPointerOutput& pointer, QObject* parent)
    : QObject(parent), pointer_(pointer)
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.value("XDG_CURRENT_DESKTOP").split(':').contains("GNOME")) startGnome();
    else if (!environment.value("SWAYSOCK").isEmpty()) startSway();
}

void LeftHandedWatcher::startGnome()
{
    const QStringList key = {"org.gnome.desktop.peripherals.mouse", "left-handed"};
    QProcess get;
    get.start("gsettings", QStringList{"get"} + key);
    if (!get.waitForFinished(3000) || get.exitCode() != 0) {
        std::fprintf(stderr, "oruDriver: cannot read GNOME's left-handed mouse setting (gsettings); if it is on, the "
                             "pen's tip clicks with the secondary button\n");
        return;
    }
    pointer_.setButtonsSwapped(gnomeLineSaysLeftHanded(get.readAllStandardOutput()));
    monitor_ = new QProcess(this);
    connect(monitor_, &QProcess::readyReadStandardOutput, this, &LeftHandedWatcher::readLines);
    monitor_->start("gsettings", QStringList{"monitor"} + key);
}

void LeftHandedWatcher::startSway()
{
    // Every change of an input device, the pen's pointer made or made again
    // included, comes as one JSON object per line.
    sway_ = true;
    monitor_ = new QProcess(this);
    connect(monitor_, &QProcess::readyReadStandardOutput, this, &LeftHandedWatcher::readLines);
    monitor_->start("swaymsg", {"-r", "-m", "-t", "subscribe", "[\"input\"]"});
}

void LeftHandedWatcher::readLines()
{
    while (monitor_->canReadLine()) {
        const QByteArray line = monitor_->readLine();
        if (!sway_) {
            pointer_.setButtonsSwapped(gnomeLineSaysLeftHanded(line));
            continue;
        }
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (const auto leftHanded = swayInputLeftHanded(event.value("input").toObject())) {
            pointer_.setButtonsSwapped(*leftHanded);
        }
    }
}

} // namespace oru
