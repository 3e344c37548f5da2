#include "audio/SoxrConverter.h"

#include <soxr.h>

#include <cmath>

namespace vel {

SoxrConverter::SoxrConverter(const AudioFormat& from, const AudioFormat& to) : m_to(to)
{
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    m_soxr = soxr_create(from.sampleRate, to.sampleRate, 1, &error, &io, &quality, nullptr);
    if (error) {
        soxr_delete(static_cast<soxr_t>(m_soxr));
        m_soxr = nullptr;
    }
}

SoxrConverter::~SoxrConverter()
{
    if (m_soxr)
        soxr_delete(static_cast<soxr_t>(m_soxr));
}

QByteArray SoxrConverter::convert(const AudioBuffer& input)
{
    if (!m_soxr)
        return {};
    mixToMono(input, m_mono);
    const double ratio = m_to.sampleRate / input.format.sampleRate;
    const size_t chunk = static_cast<size_t>(std::ceil(static_cast<double>(m_mono.size()) * ratio)) + 64;
    // soxr takes only as much input as its output room allows: feed it until all is taken.
    std::vector<float> converted;
    converted.reserve(chunk);
    m_out.resize(chunk);
    size_t consumed = 0;
    while (consumed < m_mono.size()) {
        size_t taken = 0;
        size_t produced = 0;
        const soxr_error_t error = soxr_process(static_cast<soxr_t>(m_soxr), m_mono.data() + consumed,
                                                m_mono.size() - consumed, &taken, m_out.data(), m_out.size(), &produced);
        if (error)
            return {};
        converted.insert(converted.end(), m_out.begin(), m_out.begin() + static_cast<qsizetype>(produced));
        consumed += taken;
        if (taken == 0 && produced == 0)
            break;
    }
    return encodeSamples(converted.data(), static_cast<qsizetype>(converted.size()), m_to);
}

ConverterFactory SoxrConverter::factory()
{
    return [](const AudioFormat& from, const AudioFormat& to) -> std::unique_ptr<SampleConverter> {
        if (from.sampleRate <= 0 || to.sampleRate <= 0 || from.channels <= 0)
            return nullptr;
        auto converter = std::make_unique<SoxrConverter>(from, to);
        if (!converter->isValid())
            return nullptr;
        return converter;
    };
}

} // namespace vel
