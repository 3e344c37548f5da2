#pragma once

#include "recording/AudioConverter.h"

namespace vel {

// Resampling through libsoxr (good quality, fast): mix to mono, resample, encode.
class SoxrConverter final : public SampleConverter {
public:
    SoxrConverter(const AudioFormat& from, const AudioFormat& to);
    ~SoxrConverter() override;
    QByteArray convert(const AudioBuffer& input) override;
    bool isValid() const { return m_soxr != nullptr; }

    static ConverterFactory factory();

private:
    AudioFormat m_to;
    void* m_soxr = nullptr;
    std::vector<float> m_mono;
    std::vector<float> m_out;
};

} // namespace vel
