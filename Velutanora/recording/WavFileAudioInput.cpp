#include "recording/WavFileAudioInput.h"

#include "common/Clock.h"

namespace vel {

WavFileAudioInput::WavFileAudioInput(Clock& clock, WavFile file) : m_clock(clock), m_file(std::move(file)) {}

WavFileAudioInput::~WavFileAudioInput() = default;

void WavFileAudioInput::start(AudioTap tap)
{
    if (!m_failure.isEmpty()) {
        const QString failure = m_failure;
        m_failure.clear();
        throw Error(failure);
    }
    m_tap = std::move(tap);
    const double interval = static_cast<double>(kFramesPerBuffer) / m_file.format.sampleRate;
    m_timer = m_clock.schedule(interval, true, [this] { deliver(); });
}

void WavFileAudioInput::stop() { m_timer.reset(); }

void WavFileAudioInput::loseDevice()
{
    if (!m_timer)
        return;
    m_timer.reset();
    if (onDeviceLost)
        onDeviceLost();
}

double WavFileAudioInput::playedSeconds() const
{
    return static_cast<double>(std::min(m_position, m_file.samples.size()) / m_file.format.bytesPerFrame())
           / m_file.format.sampleRate;
}

void WavFileAudioInput::deliver()
{
    const qsizetype bufferBytes = kFramesPerBuffer * m_file.format.bytesPerFrame();
    QByteArray chunk = m_file.samples.mid(m_position, bufferBytes);
    m_position += bufferBytes;
    if (chunk.size() < bufferBytes)
        chunk.append(QByteArray(bufferBytes - chunk.size(), '\0'));
    ++m_buffers;
    if (m_tap)
        m_tap(AudioBuffer{m_file.format, chunk});
    if (isAtEnd() && !m_endSignalled) {
        m_endSignalled = true;
        if (onEndOfFile)
            onEndOfFile();
    }
}

} // namespace vel
