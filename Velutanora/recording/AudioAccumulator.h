#pragma once

#include <QByteArray>

#include <mutex>
#include <optional>

namespace vel {

// Keeps the audio of a dictation for Gemini as 16 kHz signed 16-bit mono PCM, shortening
// silence as it arrives: leading silence to a 0.2 s pre-roll, each long pause to its first
// 0.3 s + a 0.05 s zero marker + its last 0.2 s, trailing silence to 0.3 s.
// One writer (the audio thread) and one reader (the main thread); every field is under the lock.
class AudioAccumulator {
public:
    static constexpr int kBytesPerSecond = 32000;
    static constexpr float kSilenceRmsThreshold = 0.012f;
    static constexpr int kPreMarginBytes = 6400;
    static constexpr int kPostMarginBytes = 9600;
    static constexpr int kSilenceMarkerBytes = 1600;
    static constexpr int kHeaderBytes = 44;

    // One converted buffer and the level of the buffer as captured (audio thread).
    void append(const char* data, qsizetype size, float rms);
    void append(const QByteArray& data, float rms) { append(data.constData(), data.size(), rms); }

    // The kept audio as a WAV file, or none when no buffer ever reached the threshold.
    std::optional<QByteArray> buildWAV() const;
    qint64 trimmedBytes() const;
    // Whether any buffer reached the threshold.
    bool hasSpeech() const;

    // The 44-byte header for `dataLength` bytes of 16 kHz 16-bit mono PCM.
    static QByteArray wavHeader(quint32 dataLength);

private:
    void trimRing();

    mutable std::mutex m_lock;
    QByteArray m_pcm;
    QByteArray m_ring;
    qint64 m_silentBytes = 0;
    bool m_hasSpeech = false;
    qint64 m_trimmedBytes = 0;
};

} // namespace vel
