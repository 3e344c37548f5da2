// The accumulator's append (it runs on the real-time audio thread) and buildWAV of 60 s of
// speech, against a plain memcpy of the same bytes; and what the engine process's boundary costs
// a dictation (over libvosk's stand-in, which recognises nothing itself). Prints figures; never fails.
#include "BenchTimer.h"
#include "audio/ModelRecognizer.h"
#include "common/Logger.h"
#include "recording/AudioAccumulator.h"
#include "recording/AudioConverter.h"
#include "recording/AudioFanOut.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace vel;

namespace {

// Runs the event loop until done() or ten seconds.
template <class Done>
void runUntil(Done done)
{
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

// A 64 ms buffer (1024 frames at 16 kHz) through the engine process: what the audio thread spends
// handing it over, and the time until the engine has taken it; then the time from the end of the
// input to the end of the results.
void engineBoundary()
{
#ifdef BENCH_ENGINE_STUB
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/model");
    QFile(dir.path() + "/model/stub-model").open(QIODevice::WriteOnly);
    std::FILE* devnull = std::fopen("/dev/null", "w");
    StreamLogger log(devnull);
    QNetworkAccessManager network;
    ModelRecognizer recognizer(log, RecognitionEngine::Vosk,
                               EngineLaunch{QStringLiteral(BENCH_ENGINE), QStringLiteral(BENCH_ENGINE_STUB)},
                               {dir.path() + "/model", QString()}, network);
    if (!runBlocking(recognizer.loadModel(dir.path() + "/model")).isEmpty()) {
        std::printf("engine process boundary: skipped (the stand-in did not load)\n");
        return;
    }
    const AudioBuffer buffer{AudioFormat::int16Mono16k(), QByteArray(2048, '\x11')};
    std::shared_ptr<RecognizerSession> session = recognizer.makeSession({}, {}, AudioFormat::int16Mono16k());
    const double handOver = bench::secondsPerCall([&] {
        session->appendAudio(buffer);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    });
    runUntil([&] { return !session->isBusy(); });
    QElapsedTimer roundTrips;
    roundTrips.start();
    constexpr int kBuffers = 200;
    for (int i = 0; i < kBuffers; ++i) {
        session->appendAudio(buffer);
        runUntil([&] { return !session->isBusy(); });
    }
    const double roundTrip = static_cast<double>(roundTrips.nsecsElapsed()) / 1e9 / kBuffers;
    QElapsedTimer stop;
    stop.start();
    session->finishInput();
    runUntil([&] { return !session->isBusy(); });
    std::printf("engine process boundary per 64 ms buffer: %.1f us on the audio and main threads (goal 1 ms), "
                "%.2f ms until the engine has taken it\n",
                handOver * 1e6, roundTrip * 1e3);
    std::printf("engine process boundary from the stop to the end of the results: %.2f ms (goal 5 ms)\n",
                static_cast<double>(stop.nsecsElapsed()) / 1e6);
#else
    std::printf("engine process boundary: skipped (built without the tests' libvosk stand-in)\n");
#endif
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
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
    engineBoundary();
    return 0;
}
