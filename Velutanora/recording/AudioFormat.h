#pragma once

#include <QByteArray>

namespace vel {

enum class SampleType { Int16, Float32 };

// Interleaved PCM of one sample type.
struct AudioFormat {
    double sampleRate = 16000;
    int channels = 1;
    SampleType sampleType = SampleType::Int16;

    int bytesPerSample() const { return sampleType == SampleType::Int16 ? 2 : 4; }
    int bytesPerFrame() const { return bytesPerSample() * channels; }
    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;

    static AudioFormat int16Mono16k() { return AudioFormat{16000, 1, SampleType::Int16}; }
};

struct AudioBuffer {
    AudioFormat format;
    QByteArray data;

    qsizetype frameCount() const { return data.size() / format.bytesPerFrame(); }
};

} // namespace vel
