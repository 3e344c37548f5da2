#pragma once

#include "recording/WavFile.h"
#include "support/Files.h"

#include <QByteArray>
#include <QString>

#include <cmath>

namespace vel::test {

// 16 kHz signed 16-bit mono: a sine standing in for speech, and digital silence.
inline QByteArray tonePcm(double seconds, double amplitude = 0.3, double hz = 440)
{
    const int n = static_cast<int>(seconds * 16000);
    QByteArray pcm(n * 2, '\0');
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<qint16>(amplitude * 32767 * std::sin(i * 2 * M_PI * hz / 16000));
        pcm[2 * i] = static_cast<char>(v & 0xff);
        pcm[2 * i + 1] = static_cast<char>((v >> 8) & 0xff);
    }
    return pcm;
}

inline QByteArray silencePcm(double seconds) { return QByteArray(static_cast<int>(seconds * 16000) * 2, '\0'); }

// Writes 16 kHz mono PCM as a WAV file in dir; returns its path.
inline QString writeWav(const QString& dir, const QString& name, const QByteArray& pcm)
{
    return writeFile(dir + "/" + name, WavFile::encode(AudioFormat::int16Mono16k(), pcm));
}

} // namespace vel::test
