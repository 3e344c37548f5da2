#pragma once

#include "recording/MicrophoneChoice.h"

#include <QWidget>

class QComboBox;
class QLabel;

namespace vel {

class AppSettings;

// The "マイク" card: the system's default, then each input device, bound to the stored device id.
// The device list comes from the owner, which follows devices being plugged and unplugged.
class MicrophonePicker final : public QWidget {
    Q_OBJECT
public:
    explicit MicrophonePicker(AppSettings& settings, QWidget* parent = nullptr);

    void setDevices(const QList<InputDevice>& devices);
    QComboBox* combo() const { return m_combo; }
    QLabel* note() const { return m_note; }

private:
    void refresh();

    AppSettings& m_settings;
    QList<InputDevice> m_devices;
    QComboBox* m_combo;
    QLabel* m_note;
};

} // namespace vel
