#pragma once

#include "recording/AudioInput.h"
#include "recording/MicrophoneChoice.h"

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

class QAudioDevice;
class QThread;

namespace vel {

class Logger;

// The chosen microphone (or the default one) through Qt Multimedia. A QAudioSource lives on a dedicated audio
// thread with its own event loop; what it delivers is regrouped into exact 1024-frame buffers
// and handed to the tap on that thread.
class QtAudioInput final : public QObject, public AudioInput {
    Q_OBJECT
public:
    static constexpr qsizetype kFramesPerBuffer = 1024;

    // wantedDevice gives the id of the device the user chose (empty: the default), read at each start.
    explicit QtAudioInput(Logger& log, std::function<QString()> wantedDevice = {}, QObject* parent = nullptr);
    ~QtAudioInput() override;

    // The input devices the system offers now.
    static QList<InputDevice> inputDevices();

    AudioFormat inputFormat() const override;
    void start(AudioTap tap) override;
    void stop() override;
    void removeTap() override;
    QString fallbackNotice() const override { return m_notice; }

    class Worker;

private:
    void deviceLost();
    QAudioDevice device(QString* notice) const;

    Logger& m_log;
    QThread* m_thread;
    Worker* m_worker;
    bool m_running = false;
    std::function<QString()> m_wantedDevice;
    QString m_notice;
};

} // namespace vel
