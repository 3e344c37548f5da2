#include "recording/WavFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace vel {

namespace {

quint16 u16(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint16>(b.constData() + at); }
quint32 u32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }

} // namespace

WavFile WavFile::parse(const QByteArray& bytes)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        throw WavError(QStringLiteral("not a WAV file"));
    std::optional<AudioFormat> format;
    std::optional<QByteArray> data;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = u32(bytes, at + 4);
        const qsizetype body = at + 8;
        const qsizetype available = std::min<qsizetype>(size, bytes.size() - body);
        if (id == "fmt ") {
            if (available < 16)
                throw WavError(QStringLiteral("not a WAV file (short format chunk)"));
            quint16 tag = u16(bytes, body);
            const quint16 channels = u16(bytes, body + 2);
            const quint32 rate = u32(bytes, body + 4);
            const quint16 bits = u16(bytes, body + 14);
            if (tag == 0xFFFE && available >= 26)
                tag = u16(bytes, body + 24); // the sub-format of WAVE_FORMAT_EXTENSIBLE
            if (channels == 0 || rate == 0)
                throw WavError(QStringLiteral("not a WAV file (no channels or no rate)"));
            if (tag == 1 && bits == 16)
                format = AudioFormat{static_cast<double>(rate), channels, SampleType::Int16};
            else if (tag == 3 && bits == 32)
                format = AudioFormat{static_cast<double>(rate), channels, SampleType::Float32};
            else
                throw WavError(QStringLiteral("unsupported WAV encoding (format %1, %2 bits): only 16-bit integer and "
                                              "32-bit float PCM are read")
                                   .arg(tag)
                                   .arg(bits));
        } else if (id == "data") {
            // A streamed file may say 0 or 0xFFFFFFFF; take what is there.
            const qsizetype length = (size == 0 || size == 0xFFFFFFFFu) ? bytes.size() - body : available;
            data = bytes.mid(body, length);
        }
        at = body + static_cast<qsizetype>(size) + (size & 1);
        if (data && format)
            break;
    }
    if (!format)
        throw WavError(QStringLiteral("not a WAV file (no format chunk)"));
    if (!data)
        throw WavError(QStringLiteral("not a WAV file (no data chunk)"));
    data->truncate(data->size() - data->size() % format->bytesPerFrame());
    return WavFile{*format, *data};
}

WavFile WavFile::read(const QString& path, double maxSeconds)
{
    // The header says how many bytes maxSeconds of its audio take; the file is read only then.
    constexpr qint64 kHead = 1 << 16;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw WavError(QStringLiteral("cannot read %1: not a regular file").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw WavError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const WavFile start = parse(file.read(kHead));
    const double allowed = maxSeconds * start.format.sampleRate * start.format.bytesPerFrame() + kHead;
    if (static_cast<double>(file.size()) > allowed)
        throw WavError(QStringLiteral("longer than %1 hours of audio (%2 bytes), more than is read")
                           .arg(maxSeconds / 3600.0)
                           .arg(file.size()));
    file.seek(0);
    return parse(file.readAll());
}

QByteArray WavFile::encode(const AudioFormat& format, const QByteArray& samples)
{
    QByteArray h(44, '\0');
    char* p = h.data();
    std::memcpy(p, "RIFF", 4);
    qToLittleEndian<quint32>(static_cast<quint32>(samples.size() + 36), p + 4);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, p + 16);
    qToLittleEndian<quint16>(format.sampleType == SampleType::Int16 ? 1 : 3, p + 20);
    qToLittleEndian<quint16>(static_cast<quint16>(format.channels), p + 22);
    qToLittleEndian<quint32>(static_cast<quint32>(format.sampleRate), p + 24);
    qToLittleEndian<quint32>(static_cast<quint32>(format.sampleRate * format.bytesPerFrame()), p + 28);
    qToLittleEndian<quint16>(static_cast<quint16>(format.bytesPerFrame()), p + 32);
    qToLittleEndian<quint16>(static_cast<quint16>(format.bytesPerSample() * 8), p + 34);
    std::memcpy(p + 36, "data", 4);
    qToLittleEndian<quint32>(static_cast<quint32>(samples.size()), p + 40);
    return h + samples;
}

} // namespace vel
