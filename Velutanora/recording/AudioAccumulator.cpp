#include "recording/AudioAccumulator.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace vel {

void AudioAccumulator::trimRing()
{
    if (m_ring.size() > kPreMarginBytes) {
        const qsizetype excess = m_ring.size() - kPreMarginBytes;
        m_ring.remove(0, excess);
        m_trimmedBytes += excess;
    }
}

void AudioAccumulator::keep(const char* data, qsizetype size)
{
    const qsizetype room = static_cast<qsizetype>(std::max<qint64>(0, m_maxKeptBytes - m_pcm.size())) & ~qsizetype(1);
    const qsizetype kept = std::min(room, size);
    m_pcm.append(data, kept);
    m_droppedBytes += size - kept;
}

void AudioAccumulator::append(const char* data, qsizetype size, float rms)
{
    std::lock_guard guard(m_lock);
    if (rms < kSilenceRmsThreshold) {
        if (!m_hasSpeech) {
            m_ring.append(data, size);
            trimRing();
        } else {
            m_silentBytes += size;
            if (m_silentBytes <= kPostMarginBytes) {
                keep(data, size);
            } else {
                m_ring.append(data, size);
                trimRing();
            }
        }
        return;
    }
    if (!m_hasSpeech) {
        m_hasSpeech = true;
        keep(m_ring);
        m_ring.clear();
    } else if (m_silentBytes > kPostMarginBytes) {
        const qint64 marker = std::min<qint64>(kSilenceMarkerBytes, m_silentBytes);
        keep(QByteArray(static_cast<qsizetype>(marker), '\0'));
        keep(m_ring);
        m_ring.clear();
        m_trimmedBytes += m_silentBytes - marker;
    }
    keep(data, size);
    m_silentBytes = 0;
}

QByteArray AudioAccumulator::wavHeader(quint32 dataLength)
{
    QByteArray h(kHeaderBytes, '\0');
    char* p = h.data();
    auto u32 = [&p](quint32 v) {
        qToLittleEndian(v, p);
        p += 4;
    };
    auto u16 = [&p](quint16 v) {
        qToLittleEndian(v, p);
        p += 2;
    };
    auto ascii = [&p](const char* s) {
        std::memcpy(p, s, 4);
        p += 4;
    };
    ascii("RIFF");
    u32(dataLength + 36);
    ascii("WAVE");
    ascii("fmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(16000);
    u32(32000);
    u16(2);
    u16(16);
    ascii("data");
    u32(dataLength);
    return h;
}

std::optional<QByteArray> AudioAccumulator::buildWAV() const
{
    QByteArray pcm;
    {
        std::lock_guard guard(m_lock);
        pcm = m_pcm; // implicitly shared: the copy is taken after the lock is released
    }
    if (pcm.isEmpty())
        return std::nullopt;
    QByteArray wav;
    wav.reserve(pcm.size() + kHeaderBytes);
    wav += wavHeader(static_cast<quint32>(pcm.size()));
    wav += pcm;
    return wav;
}

qint64 AudioAccumulator::trimmedBytes() const
{
    std::lock_guard guard(m_lock);
    return m_trimmedBytes;
}

qint64 AudioAccumulator::droppedBytes() const
{
    std::lock_guard guard(m_lock);
    return m_droppedBytes;
}

bool AudioAccumulator::hasSpeech() const
{
    std::lock_guard guard(m_lock);
    return m_hasSpeech;
}

} // namespace vel
