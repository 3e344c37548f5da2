// The audio thread's cost per 1024-frame buffer (level, the 16 kHz conversion for Gemini and
// the conversion for the recogniser, through libsoxr) as a share of the buffer's duration, and
// the latency from starting capture to the first buffer (when a microphone is there).
#include "BenchTimer.h"
#include "common/Logger.h"
#include "recording/AudioAccumulator.h"
#include "recording/AudioFanOut.h"
#include "audio/QtAudioInput.h"
#include "audio/SoxrConverter.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMediaDevices>

#include <atomic>
#include <cmath>
#include <cstdio>

using namespace vel;

namespace {

class CountingSession final : public RecognizerSession {
public:
    void appendAudio(const AudioBuffer& b) override { frames += b.frameCount(); }
    void finishInput() override {}
    Task<std::optional<RecognitionResult>> nextResult() override { co_return std::nullopt; }
    Task<void> finalizeAndFinishThroughEndOfInput() override { co_return; }
    qsizetype frames = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (const AudioFormat input : {AudioFormat{48000, 1, SampleType::Float32}, AudioFormat{44100, 2, SampleType::Int16}}) {
        std::vector<float> tone(1024);
        for (size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<float>(0.3 * std::sin(static_cast<double>(i) * 0.07));
        const AudioBuffer captured{input, encodeSamples(tone.data(), 1024, input)};
        auto session = std::make_shared<CountingSession>();
        AudioAccumulator accumulator;
        AudioFanOut fan(input, AudioFormat::int16Mono16k(), session,
                        [&accumulator](const QByteArray& pcm, float level) { accumulator.append(pcm, level); },
                        [](float) {}, SoxrConverter::factory());
        const double perBuffer = bench::secondsPerCall([&] { fan.process(captured); }, 1.0);
        const double duration = 1024.0 / input.sampleRate;
        std::printf("%.0f Hz, %d ch: %.1f us per buffer = %.3f%% of its %.1f ms\n", input.sampleRate, input.channels,
                    perBuffer * 1e6, perBuffer / duration * 100, duration * 1e3);
    }

    if (QMediaDevices::defaultAudioInput().isNull()) {
        std::printf("latency to the first buffer: skipped (no input device; scripts/test starts a virtual one)\n");
        return 0;
    }
    std::FILE* devnull = std::fopen("/dev/null", "w");
    StreamLogger log(devnull);
    QtAudioInput input(log);
    for (int round = 0; round < 5; ++round) {
        std::atomic<qint64> firstAt{-1};
        QElapsedTimer timer;
        timer.start();
        input.start([&](const AudioBuffer&) {
            qint64 none = -1;
            firstAt.compare_exchange_strong(none, timer.nsecsElapsed());
        });
        while (firstAt < 0 && timer.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        input.stop();
        input.removeTap();
        std::printf("latency from start to the first 1024-frame buffer: %.1f ms\n", static_cast<double>(firstAt) / 1e6);
    }
    std::fclose(devnull);
    return 0;
}
