#pragma once

#include "common/Error.h"
#include "recording/AudioFormat.h"

#include <QString>

namespace vel {

// A PCM WAV file: 16-bit integer or 32-bit float, any rate and channel count.
struct WavFile {
    AudioFormat format;
    QByteArray samples;

    double durationSeconds() const
    {
        return static_cast<double>(samples.size() / format.bytesPerFrame()) / format.sampleRate;
    }

    // Throws WavError.
    static WavFile parse(const QByteArray& bytes);
    // A regular file of at most maxSeconds of audio (a pipe, a device or a longer file is refused).
    static constexpr double kMaxSeconds = 2 * 3600.0;
    static WavFile read(const QString& path, double maxSeconds = kMaxSeconds);
    // A 16-bit or float WAV image of the given samples.
    static QByteArray encode(const AudioFormat& format, const QByteArray& samples);
};

class WavError : public Error {
public:
    using Error::Error;
};

} // namespace vel
