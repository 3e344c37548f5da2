#pragma once

#include "recording/AudioInput.h"

#include <QObject>

#include <memory>
#include <mutex>

class QThread;

namespace vel {

class Logger;

// The default microphone through Qt Multimedia. A QAudioSource lives on a dedicated audio
// thread with its own event loop; what it delivers is regrouped into exact 1024-frame buffers
// and handed to the tap on that thread.
class QtAudioInput final : public QObject, public AudioInput {
    Q_OBJECT
public:
    static constexpr qsizetype kFramesPerBuffer = 1024;

    explicit QtAudioInput(Logger& log, QObject* parent = nullptr);
    ~QtAudioInput() override;

    AudioFormat inputFormat() const override;
    void start(AudioTap tap) override;
    void stop() override;
    void removeTap() override;

    class Worker;

private:
    void deviceLost();

    Logger& m_log;
    QThread* m_thread;
    Worker* m_worker;
    bool m_running = false;
};

} // namespace vel
