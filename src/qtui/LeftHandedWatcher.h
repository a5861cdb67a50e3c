#pragma once

#include <QObject>

class QLocalSocket;
class QProcess;

namespace oru {

class UinputPointerOutput;

/// A desktop's "left-handed" mouse setting swaps the primary and secondary
/// buttons of pointer devices in libinput. GNOME (mutter) applies it to every
/// mouse, and sway to every device its `input` rules match; both take in the
/// virtual pointer, which would make the pen's tip a secondary click. This
/// follows the setting as it applies to the pointer and has the pointer send
/// its buttons swapped in turn, so the tip stays the primary button and the
/// side button the secondary. Elsewhere the setting is per device and the
/// pointer is left alone (KDE's, X11's for XTest's own device).
class LeftHandedWatcher : public QObject {
public:
    /// Starts following when the session is GNOME's or sway's; pointer must
    /// outlive this.
    LeftHandedWatcher(UinputPointerOutput& pointer, QObject* parent);

private:
    void startGnome();
    void startSway(const QString& socketPath);
    void sendSway(quint32 type, const QByteArray& payload);
    void readSway();
    void readGnome();

    UinputPointerOutput& pointer_;
    QProcess* gnome_ = nullptr;  // gsettings monitor
    QLocalSocket* sway_ = nullptr;
    QByteArray swayBuffer_;
};

} // namespace oru
