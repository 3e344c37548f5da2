#include "common/Clock.h"
#include "recording/AudioFanOut.h"
#include "recording/WavFile.h"
#include "recording/WavFileAudioInput.h"
#include "support/ScriptedRecognizer.h"

#include <QTest>
#include <QtEndian>

#include <cmath>

using namespace vel;
using namespace vel::test;

namespace {

AudioBuffer sine(const AudioFormat& format, qsizetype frames, double amplitude, double hz = 440, qsizetype offset = 0)
{
    std::vector<float> mono(static_cast<size_t>(frames));
    for (qsizetype i = 0; i < frames; ++i)
        mono[static_cast<size_t>(i)] = static_cast<float>(amplitude * std::sin(2 * M_PI * hz * double(i + offset) / format.sampleRate));
    return AudioBuffer{format, encodeSamples(mono.data(), frames, format)};
}

} // namespace

class TestAudioPipeline : public QObject {
    Q_OBJECT
private slots:
    void fanOutToAllThree()
    {
        const AudioFormat input{48000, 2, SampleType::Float32};
        auto session = std::make_shared<ScriptedSession>();
        QByteArray int16;
        QList<float> gemLevels;
        QList<float> levels;
        AudioFanOut fan(
            input, AudioFormat::int16Mono16k(), session,
            [&](const QByteArray& pcm, float level) {
                int16 += pcm;
                gemLevels.append(level);
            },
            [&](float level) { levels.append(level); }, LinearConverter::factory());
        for (int i = 0; i < 47; ++i) // about 1 s
            fan.process(sine(input, 1024, 0.5, 440, i * 1024));
        fan.process(AudioBuffer{input, QByteArray(1024 * 8, '\0')});
        QCOMPARE(levels.size(), 48);
        QCOMPARE(levels.last(), 0.0f); // a silent buffer still reports its level
        QCOMPARE(gemLevels, levels);
        // 48 × 1024 frames at 48 kHz ≈ 16384 frames at 16 kHz.
        QVERIFY(std::abs(int16.size() / 2 - 48 * 1024 / 3) <= 2);
        QVERIFY(std::abs(session->frames() - 48 * 1024 / 3) <= 2);
        QCOMPARE(session->buffers(), 48);
        // The converted tone keeps its level.
        const AudioBuffer converted{AudioFormat::int16Mono16k(), int16.left(2 * 16000 / 2)};
        QVERIFY(std::abs(firstChannelRms(converted) - 0.3536f) < 0.01f);
    }

    // Same format, or no converter to be had: the buffer reaches the recogniser unchanged, and
    // nothing is converted for Gemini when it is not asked for.
    void unconvertedBuffers_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("refusing");
        QTest::newRow("already 16 kHz int16") << 16000.0 << false;
        QTest::newRow("converter refused") << 44100.0 << true;
    }
    void unconvertedBuffers()
    {
        QFETCH(double, rate);
        QFETCH(bool, refusing);
        const AudioFormat input{rate, 1, refusing ? SampleType::Float32 : SampleType::Int16};
        auto session = std::make_shared<ScriptedSession>();
        int converterCalls = 0;
        ConverterFactory factory = [&](const AudioFormat& a, const AudioFormat& b) {
            ++converterCalls;
            return refusing ? std::unique_ptr<SampleConverter>() : LinearConverter::factory()(a, b);
        };
        AudioFanOut fan(input, AudioFormat::int16Mono16k(), session, nullptr, [](float) {}, factory);
        const AudioBuffer b = sine(input, 1024, 0.2);
        fan.process(b);
        QCOMPARE(converterCalls, refusing ? 1 : 0);
        QCOMPARE(session->audio(), b.data);
    }

    void wavFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        const QByteArray pcm16 = WavFile::encode(AudioFormat{22050, 2, SampleType::Int16}, QByteArray(400, 'x'));
        const QByteArray f32 = WavFile::encode(AudioFormat{48000, 1, SampleType::Float32}, QByteArray(400, 'x'));
        QByteArray eightBit = pcm16;
        qToLittleEndian<quint16>(8, eightBit.data() + 34);
        QByteArray alaw = pcm16;
        qToLittleEndian<quint16>(6, alaw.data() + 20);
        QTest::newRow("16-bit stereo") << pcm16 << true;
        QTest::newRow("float mono") << f32 << true;
        QTest::newRow("8-bit") << eightBit << false;
        QTest::newRow("a-law") << alaw << false;
        QTest::newRow("not RIFF") << QByteArray("ID3\x03 some mp3") << false;
        QTest::newRow("no data chunk") << pcm16.left(36) << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void wavFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        try {
            const WavFile w = WavFile::parse(bytes);
            QVERIFY(valid);
            QCOMPARE(w.samples.size(), 400);
        } catch (const WavError& e) {
            QVERIFY2(!valid, qPrintable(e.description()));
        }
    }

    void fileInputPlaysOnlyWhileStarted()
    {
        ManualClock clock;
        const AudioFormat f = AudioFormat::int16Mono16k();
        QByteArray samples(16000 * 2, '\0');
        for (qsizetype i = 0; i < samples.size(); i += 2)
            qToLittleEndian<qint16>(static_cast<qint16>(i / 2), samples.data() + i);
        WavFileAudioInput input(clock, WavFile{f, samples});
        QByteArray heard;
        int buffers = 0;
        bool ended = false;
        input.onEndOfFile = [&] { ended = true; };
        input.start([&](const AudioBuffer& b) {
            QCOMPARE(b.frameCount(), 1024);
            heard += b.data;
            ++buffers;
        });
        clock.advance(0.5); // 0.5 s / 64 ms = 7 buffers
        QCOMPARE(buffers, 7);
        input.stop();
        clock.advance(10);
        QCOMPARE(buffers, 7);
        input.start([&](const AudioBuffer& b) {
            heard += b.data;
            ++buffers;
        });
        clock.advance(1.0);
        QVERIFY(ended);
        QCOMPARE(heard.left(samples.size()), samples); // nothing lost across the pause
        QVERIFY(heard.mid(samples.size()).count('\0') == heard.size() - samples.size());
    }
};

QTEST_GUILESS_MAIN(TestAudioPipeline)
#include "tst_AudioPipeline.moc"
