#pragma once

#include "recording/AudioFormat.h"

#include <functional>
#include <memory>

namespace vel {

// Converts a stream of buffers from one format to another, keeping state across buffers.
class SampleConverter {
public:
    virtual ~SampleConverter() = default;
    // The converted samples for one input buffer, in the target format.
    virtual QByteArray convert(const AudioBuffer& input) = 0;
};

// Makes a converter between two formats, or none when it cannot.
using ConverterFactory = std::function<std::unique_ptr<SampleConverter>(const AudioFormat& from, const AudioFormat& to)>;

// Mixes to mono and resamples by linear interpolation; enough for speech, and needs no library.
class LinearConverter final : public SampleConverter {
public:
    LinearConverter(const AudioFormat& from, const AudioFormat& to);
    QByteArray convert(const AudioBuffer& input) override;
    static ConverterFactory factory();

private:
    AudioFormat m_from;
    AudioFormat m_to;
    double m_step;
    double m_next = 0;
    float m_previous = 0;
    bool m_hasPrevious = false;
};

// Root-mean-square of the first channel, full scale 1.0, computed in float.
float firstChannelRms(const AudioBuffer& buffer);
// The mono mix of a buffer as floats in [-1, 1].
void mixToMono(const AudioBuffer& buffer, std::vector<float>& out);
// Encodes float samples (mono) into a format, repeating them over its channels.
QByteArray encodeSamples(const float* samples, qsizetype count, const AudioFormat& format);

} // namespace vel
