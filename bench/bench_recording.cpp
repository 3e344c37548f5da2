// The accumulator's append (it runs on the real-time audio thread) and buildWAV of 60 s of
// speech, against a plain memcpy of the same bytes. Prints figures; never fails.
#include "BenchTimer.h"
#include "recording/AudioAccumulator.h"
#include "recording/AudioConverter.h"
#include "recording/AudioFanOut.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace vel;

int main()
{
    // One 1024-frame buffer at 48 kHz becomes 342 frames of 16 kHz 16-bit mono: 684 bytes.
    const QByteArray buffer(684, '\x11');
    std::vector<char> sink(buffer.size());

    // Speech-level appends: the steady state of a dictation. A fresh accumulator per 60 s.
    AudioAccumulator* acc = new AudioAccumulator;
    long appended = 0;
    const double append = bench::secondsPerCall([&] {
        acc->append(buffer, 0.2f);
        if (++appended % 2800 == 0) {
            delete acc;
            acc = new AudioAccumulator;
        }
    });
    const double silentAppend = bench::secondsPerCall([&] { acc->append(buffer, 0.001f); });
    delete acc;
    const double copy = bench::secondsPerCall([&] {
        std::memcpy(sink.data(), buffer.constData(), static_cast<size_t>(buffer.size()));
        bench::keep(sink);
    });
    std::printf("append of a 1024-frame buffer: %.0f ns speech, %.0f ns silence; memcpy %.0f ns; ratio %.1f\n",
                append * 1e9, silentAppend * 1e9, copy * 1e9, append / copy);
    std::printf("  share of the buffer's 21.3 ms at 48 kHz: %.5f%%\n", append / 0.021333 * 100);

    AudioAccumulator minute;
    const QByteArray second(32000, '\x22');
    for (int i = 0; i < 60; ++i)
        minute.append(second, 0.2f);
    // The plain copy reads a vector: GCC cannot see that a QByteArray is not its shared empty one.
    const std::vector<char> secondBytes(second.cbegin(), second.cend());
    std::vector<char> big(60 * secondBytes.size() + 44);
    const double build = bench::secondsPerCall([&] { bench::keep(minute.buildWAV()); });
    const double bigCopy = bench::secondsPerCall([&] {
        std::memset(big.data(), 0, 44); // the header
        for (size_t i = 0; i < 60; ++i)
            std::memcpy(big.data() + 44 + i * secondBytes.size(), secondBytes.data(), secondBytes.size());
        bench::keep(big);
    });
    std::printf("buildWAV of 60 s: %.0f us; memcpy of the same bytes %.0f us; ratio %.1f\n", build * 1e6,
                bigCopy * 1e6, build / bigCopy);

    // The whole tap for one buffer: level, conversion to 16 kHz int16, conversion for the recogniser.
    const AudioFormat input{48000, 1, SampleType::Float32};
    std::vector<float> tone(1024);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.3 * std::sin(i * 0.05));
    const AudioBuffer captured{input, encodeSamples(tone.data(), 1024, input)};
    AudioAccumulator tapAcc;
    AudioFanOut fan(input, std::nullopt, nullptr,
                    [&tapAcc](const QByteArray& pcm, float level) { tapAcc.append(pcm, level); }, [](float) {},
                    LinearConverter::factory());
    const double tap = bench::secondsPerCall([&] { fan.process(captured); });
    std::printf("tap per 1024-frame buffer (level + 16 kHz conversion + append): %.1f us = %.3f%% of its 21.3 ms\n",
                tap * 1e6, tap / (1024.0 / 48000.0) * 100);
    return 0;
}
