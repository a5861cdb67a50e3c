#include "qtui/LeftHandedWatcher.h"

#include "platform/linux/UinputPointerOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstring>
#include <optional>

namespace oru {

namespace {

// sway's message types: commands, and the input event (high bit: an event).
constexpr quint32 kSwaySubscribe = 2;
constexpr quint32 kSwayGetInputs = 100;
constexpr quint32 kSwayInputEvent = 0x80000015;

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
    else if (!environment.value("SWAYSOCK").isEmpty()) startSway(environment.value("SWAYSOCK"));
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
    gnome_ = new QProcess(this);
    connect(gnome_, &QProcess::readyReadStandardOutput, this, &LeftHandedWatcher::readGnome);
    gnome_->start("gsettings", QStringList{"monitor"} + key);
}

void LeftHandedWatcher::startSway(const QString& socketPath)
{
    // sway's IPC (i3's framing: "i3-ipc", payload length, type, payload).
    // Once subscribed to input events no change is missed; what was there
    // before (the pointer may already be) comes with the list asked for then.
    sway_ = new QLocalSocket(this);
    connect(sway_, &QLocalSocket::readyRead, this, &LeftHandedWatcher::readSway);
    connect(sway_, &QLocalSocket::connected, this, [this] { sendSway(kSwaySubscribe, "[\"input\"]"); });
    sway_->connectToServer(socketPath);
}

void LeftHandedWatcher::sendSway(quint32 type, const QByteArray& payload)
{
    const quint32 header[2] = {static_cast<quint32>(payload.size()), type};
    sway_->write(QByteArray("i3-ipc") + QByteArray(reinterpret_cast<const char*>(header), sizeof header) + payload);
}

void LeftHandedWatcher::readSway()
{
    swayBuffer_ += sway_->readAll();
    constexpr qsizetype kHeader = 14;
    while (swayBuffer_.size() >= kHeader) {
        quint32 header[2];
        std::memcpy(header, swayBuffer_.constData() + 6, sizeof header);
        if (swayBuffer_.size() < kHeader + header[0]) return;
        const QJsonDocument message = QJsonDocument::fromJson(swayBuffer_.mid(kHeader, header[0]));
        swayBuffer_.remove(0, kHeader + header[0]);
        if (header[1] == kSwaySubscribe) sendSway(kSwayGetInputs, {});
        QJsonArray inputs = message.array();
        if (header[1] == kSwayInputEvent) inputs.append(message.object().value("input"));
        for (const auto input : inputs) {
            if (const auto leftHanded = swayInputLeftHanded(input.toObject())) pointer_.setButtonsSwapped(*leftHanded);
        }
    }
}

void LeftHandedWatcher::readGnome()
{
    while (gnome_->canReadLine()) pointer_.setButtonsSwapped(gnomeLineSaysLeftHanded(gnome_->readLine()));
}

} // namespace oru
