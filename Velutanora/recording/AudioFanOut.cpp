#include "recording/AudioFanOut.h"

#include <cmath>

namespace vel {

AudioFanOut::AudioFanOut(const AudioFormat& inputFormat, const std::optional<AudioFormat>& analyzerFormat,
                         std::shared_ptr<RecognizerSession> session, GeminiAudioHandler geminiAudio,
                         LevelHandler level, const ConverterFactory& converters)
    : m_input(inputFormat), m_analyzerFormat(analyzerFormat), m_session(std::move(session)),
      m_geminiAudio(std::move(geminiAudio)), m_level(std::move(level))
{
    if (m_session && m_analyzerFormat && !(*m_analyzerFormat == m_input))
        m_toAnalyzer = converters(m_input, *m_analyzerFormat);
    if (m_geminiAudio)
        m_toInt16 = converters(m_input, AudioFormat::int16Mono16k());
}

qsizetype AudioFanOut::int16Capacity(qsizetype frames, double inputRate)
{
    return static_cast<qsizetype>(std::floor(static_cast<double>(frames) * 16000.0 / inputRate)) + 1;
}

qsizetype AudioFanOut::analyzerCapacity(qsizetype frames, double inputRate, double analyzerRate)
{
    return static_cast<qsizetype>(std::floor(analyzerRate * static_cast<double>(frames) / inputRate));
}

void AudioFanOut::process(const AudioBuffer& buffer)
{
    const float level = firstChannelRms(buffer);
    if (m_level)
        m_level(level);

    if (m_geminiAudio && m_toInt16) {
        // A resampler may hold samples back and release them later in a larger piece: all of it
        // is kept (cutting a piece to the nominal capacity would lose audio).
        const QByteArray pcm = m_toInt16->convert(buffer);
        if (!pcm.isEmpty())
            m_geminiAudio(pcm, level);
    }

    if (!m_session)
        return;
    if (m_toAnalyzer) {
        QByteArray converted = m_toAnalyzer->convert(buffer);
        if (converted.isEmpty())
            return;
        m_session->appendAudio(AudioBuffer{*m_analyzerFormat, converted});
    } else {
        m_session->appendAudio(buffer);
    }
}

} // namespace vel
