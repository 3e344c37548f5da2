#pragma once

#include "recording/AudioInput.h"
#include "recording/WavFile.h"

#include <functional>
#include <memory>

namespace vel {

class Clock;
class ClockTimer;

// A WAV file played as the microphone, in 1024-frame buffers on the injected clock, and only
// while started: a stop pauses the file, the next start resumes where it stopped. After the
// end it goes on with digital silence, as a real microphone in a quiet room would.
class WavFileAudioInput final : public AudioInput {
public:
    static constexpr qsizetype kFramesPerBuffer = 1024;

    WavFileAudioInput(Clock& clock, WavFile file);
    ~WavFileAudioInput() override;

    AudioFormat inputFormat() const override { return m_file.format; }
    void start(AudioTap tap) override;
    void stop() override;
    void removeTap() override { m_tap = nullptr; }

    bool isRunning() const { return m_timer != nullptr; }
    bool isAtEnd() const { return m_position >= m_file.samples.size(); }
    // Seconds of the file played so far.
    double playedSeconds() const;
    int buffersDelivered() const { return m_buffers; }
    // A start that throws this error instead (for tests of failing devices).
    void failNextStart(const QString& description) { m_failure = description; }
    // The device goes away while running: capture ends and the owner is told.
    void loseDevice();
    // Called once, on the main thread, when the last frame of the file has been delivered.
    std::function<void()> onEndOfFile;

private:
    void deliver();

    Clock& m_clock;
    WavFile m_file;
    AudioTap m_tap;
    std::unique_ptr<ClockTimer> m_timer;
    qsizetype m_position = 0;
    int m_buffers = 0;
    bool m_endSignalled = false;
    QString m_failure;
};

} // namespace vel
