#include "recording/AudioFanOut.h"
#include "audio/SoxrConverter.h"

#include <QTest>

#include <cmath>

using namespace vel;

class TestSoxrConverter : public QObject {
    Q_OBJECT
private slots:
    void nothingIsLostThroughTheFanOut_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("type");
        QTest::newRow("48 kHz float mono") << 48000.0 << 1 << int(SampleType::Float32);
        QTest::newRow("44.1 kHz int16 stereo") << 44100.0 << 2 << int(SampleType::Int16);
        QTest::newRow("16 kHz int16 mono") << 16000.0 << 1 << int(SampleType::Int16);
        QTest::newRow("8 kHz float mono") << 8000.0 << 1 << int(SampleType::Float32);
    }
    void nothingIsLostThroughTheFanOut()
    {
        QFETCH(double, rate);
        QFETCH(int, channels);
        QFETCH(int, type);
        const AudioFormat input{rate, channels, SampleType(type)};
        QByteArray out;
        AudioFanOut fan(input, std::nullopt, nullptr, [&out](const QByteArray& pcm, float) { out += pcm; },
                        [](float) {}, SoxrConverter::factory());
        const int buffers = static_cast<int>(std::ceil(3 * rate / 1024));
        std::vector<float> tone(1024);
        for (int b = 0; b < buffers; ++b) {
            for (int i = 0; i < 1024; ++i)
                tone[i] = 0.3f * static_cast<float>(std::sin((b * 1024 + i) * 2 * M_PI * 440 / rate));
            fan.process(AudioBuffer{input, encodeSamples(tone.data(), 1024, input)});
        }
        const double expected = double(buffers) * 1024.0 * 16000.0 / rate;
        const double got = out.size() / 2;
        // Only the resampler's own delay (under a tenth of a second) may be missing.
        QVERIFY2(got <= expected + 1 && got > expected - 16000 * 0.1,
                 qPrintable(QString("%1 of %2 samples").arg(got).arg(expected)));
        const float level = firstChannelRms(AudioBuffer{AudioFormat::int16Mono16k(), out.mid(16000, 16000)});
        QVERIFY(std::abs(level - 0.3f / std::sqrt(2.0f)) < 0.01f);
    }
};

QTEST_GUILESS_MAIN(TestSoxrConverter)
#include "tst_SoxrConverter.moc"
