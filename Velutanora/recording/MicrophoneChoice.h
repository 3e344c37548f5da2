#pragma once

#include <QList>
#include <QString>

namespace vel {

// An input device as the settings window lists it and the store keeps it (by id).
struct InputDevice {
    QString id;
    QString name;
    bool operator==(const InputDevice&) const = default;
};

struct MicrophoneChoice {
    // Empty: the system's default device.
    QString id;
    // Why the chosen device is not the one recorded from; empty when it is.
    QString notice;
};

// The device to record from: the wanted one while it is plugged in, otherwise the default, said
// in a status line (a headset left at the office must not leave the user without dictation).
MicrophoneChoice chooseMicrophone(const QList<InputDevice>& devices, const QString& wantedId);

} // namespace vel
