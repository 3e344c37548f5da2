#include "recording/AudioConverter.h"

#include <QtEndian>

#include <cmath>
#include <cstring>
#include <vector>

namespace vel {

namespace {

float sampleAt(const char* p, SampleType type)
{
    if (type == SampleType::Int16)
        return static_cast<float>(qFromLittleEndian<qint16>(p)) / 32768.0f;
    return qFromLittleEndian<float>(p);
}

} // namespace

float firstChannelRms(const AudioBuffer& buffer)
{
    const qsizetype frames = buffer.frameCount();
    const int stride = buffer.format.bytesPerFrame();
    const char* p = buffer.data.constData();
    float sum = 0;
    for (qsizetype i = 0; i < frames; ++i) {
        const float s = sampleAt(p + i * stride, buffer.format.sampleType);
        sum += s * s;
    }
    return std::sqrt(sum / static_cast<float>(frames == 0 ? 1 : frames));
}

void mixToMono(const AudioBuffer& buffer, std::vector<float>& out)
{
    const qsizetype frames = buffer.frameCount();
    const int channels = buffer.format.channels;
    const int bytes = buffer.format.bytesPerSample();
    const char* p = buffer.data.constData();
    out.resize(static_cast<size_t>(frames));
    for (qsizetype i = 0; i < frames; ++i) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += sampleAt(p + (i * channels + c) * bytes, buffer.format.sampleType);
        out[static_cast<size_t>(i)] = sum / static_cast<float>(channels);
    }
}

QByteArray encodeSamples(const float* samples, qsizetype count, const AudioFormat& format)
{
    QByteArray out(count * format.bytesPerFrame(), Qt::Uninitialized);
    char* p = out.data();
    for (qsizetype i = 0; i < count; ++i) {
        for (int c = 0; c < format.channels; ++c) {
            if (format.sampleType == SampleType::Int16) {
                const float scaled = std::round(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f);
                qToLittleEndian(static_cast<qint16>(scaled), p);
                p += 2;
            } else {
                qToLittleEndian(samples[i], p);
                p += 4;
            }
        }
    }
    return out;
}

LinearConverter::LinearConverter(const AudioFormat& from, const AudioFormat& to)
    : m_from(from), m_to(to), m_step(from.sampleRate / to.sampleRate)
{
}

QByteArray LinearConverter::convert(const AudioBuffer& input)
{
    std::vector<float> x;
    mixToMono(input, x);
    const auto n = static_cast<qsizetype>(x.size());
    if (n == 0)
        return {};
    std::vector<float> out;
    out.reserve(static_cast<size_t>(static_cast<double>(n) / m_step) + 2);
    auto at = [&](qsizetype i) { return i < 0 ? (m_hasPrevious ? m_previous : x[0]) : x[static_cast<size_t>(i)]; };
    for (;;) {
        const auto i = static_cast<qsizetype>(std::floor(m_next));
        const double frac = m_next - static_cast<double>(i);
        if (i + 1 > n - 1) {
            if (i == n - 1 && frac == 0) {
                out.push_back(at(i));
                m_next += m_step;
            }
            break;
        }
        out.push_back(static_cast<float>(at(i) + (at(i + 1) - at(i)) * frac));
        m_next += m_step;
    }
    m_next -= static_cast<double>(n);
    m_previous = x.back();
    m_hasPrevious = true;
    return encodeSamples(out.data(), static_cast<qsizetype>(out.size()), m_to);
}

ConverterFactory LinearConverter::factory()
{
    return [](const AudioFormat& from, const AudioFormat& to) -> std::unique_ptr<SampleConverter> {
        if (from.sampleRate <= 0 || to.sampleRate <= 0 || from.channels <= 0 || to.channels <= 0)
            return nullptr;
        return std::make_unique<LinearConverter>(from, to);
    };
}

} // namespace vel
