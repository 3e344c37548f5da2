#pragma once

#include <QByteArray>

#include <mutex>
#include <optional>

namespace vel {

// Keeps the audio of a dictation for Gemini as 16 kHz signed 16-bit mono PCM, shortening
// silence as it arrives: leading silence to a 0.2 s pre-roll, each long pause to its first
// 0.3 s + a 0.05 s zero marker + its last 0.2 s, trailing silence to 0.3 s.
// What is kept stops at a limit (the rest is counted, not kept): the WAV goes inline in one
// request, which base64 makes a third larger. The local recogniser hears everything regardless.
// One writer (the audio thread) and one reader (the main thread); every field is under the lock.
class AudioAccumulator {
public:
    // Seven minutes: 13.4 MB, under the API's 20 MB inline request once encoded.
    static constexpr qint64 kMaxKeptBytes = 7LL * 60 * 32000;
    explicit AudioAccumulator(qint64 maxKeptBytes = kMaxKeptBytes) : m_maxKeptBytes(maxKeptBytes) {}

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
    // Audio past the limit, left out of the WAV.
    qint64 droppedBytes() const;
    // Whether any buffer reached the threshold.
    bool hasSpeech() const;

    // The 44-byte header for `dataLength` bytes of 16 kHz 16-bit mono PCM.
    static QByteArray wavHeader(quint32 dataLength);

private:
    void trimRing();
    void keep(const char* data, qsizetype size);
    void keep(const QByteArray& data) { keep(data.constData(), data.size()); }

    const qint64 m_maxKeptBytes;

    mutable std::mutex m_lock;
    QByteArray m_pcm;
    QByteArray m_ring;
    qint64 m_silentBytes = 0;
    bool m_hasSpeech = false;
    qint64 m_trimmedBytes = 0;
    qint64 m_droppedBytes = 0;
};

} // namespace vel
