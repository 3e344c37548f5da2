#pragma once

#include "recording/AudioConverter.h"
#include "recording/SpeechRecognizer.h"

#include <functional>
#include <memory>
#include <optional>

namespace vel {

// The tap of a dictation: every captured buffer goes to the level meter, to the accumulator
// (as 16 kHz 16-bit mono, only when audio is kept for Gemini) and to the recogniser (in its
// format). Runs on the audio thread and touches nothing but what it was built with.
class AudioFanOut {
public:
    using GeminiAudioHandler = std::function<void(const QByteArray& int16Mono16k, float level)>;
    using LevelHandler = std::function<void(float level)>;

    AudioFanOut(const AudioFormat& inputFormat, const std::optional<AudioFormat>& analyzerFormat,
                std::shared_ptr<RecognizerSession> session, GeminiAudioHandler geminiAudio, LevelHandler level,
                const ConverterFactory& converters);

    void process(const AudioBuffer& buffer);

    // Frames the accumulator's buffer holds for one captured buffer: ⌊frames × 16000 / rate⌋ + 1.
    static qsizetype int16Capacity(qsizetype frames, double inputRate);
    // Frames the recogniser's buffer holds: ⌊analyzerRate × frames / inputRate⌋.
    static qsizetype analyzerCapacity(qsizetype frames, double inputRate, double analyzerRate);

private:
    AudioFormat m_input;
    std::optional<AudioFormat> m_analyzerFormat;
    std::shared_ptr<RecognizerSession> m_session;
    GeminiAudioHandler m_geminiAudio;
    LevelHandler m_level;
    std::unique_ptr<SampleConverter> m_toAnalyzer;
    std::unique_ptr<SampleConverter> m_toInt16;
};

} // namespace vel
