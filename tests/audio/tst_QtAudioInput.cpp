#include "common/Logger.h"
#include "support/Files.h"
#include "recording/AudioAccumulator.h"
#include "recording/AudioFanOut.h"
#include "audio/QtAudioInput.h"
#include "audio/SoxrConverter.h"
#include "recording/WavFile.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QMediaDevices>
#include <QAudioDevice>
#include <QProcess>
#include <QTest>

#include <cmath>
#include <mutex>

using namespace vel;
using namespace vel::test;


class TestQtAudioInput : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || QMediaDevices::defaultAudioInput().isNull())
            QSKIP("needs PulseAudio with the virtual microphone (scripts/test starts it)");
    }

    // scripts/test offers two microphones: vmic (the default) and vmic2 ("SecondMic").
    void recordsFromTheChosenMicrophone_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("recordsFrom");
        QTest::addColumn<bool>("saysSo");
        QTest::newRow("the default") << "" << "" << false;
        QTest::newRow("a chosen one") << "vmic2" << "SecondMic" << false;
        QTest::newRow("one unplugged") << "usb-headset-left-at-work" << "" << true;
    }
    void recordsFromTheChosenMicrophone()
    {
        QFETCH(QString, wanted);
        QFETCH(QString, recordsFrom);
        QFETCH(bool, saysSo);
        RecordingLogger log;
        QtAudioInput input(log, [wanted] { return wanted; });
        input.start([](const AudioBuffer&) {});
        input.stop();
        input.removeTap();
        const QString expected = recordsFrom.isEmpty() ? QMediaDevices::defaultAudioInput().description() : recordsFrom;
        QVERIFY2(log.lines().join('\n').contains(QStringLiteral("capturing from %1 (").arg(expected)), qPrintable(log.lines().join('\n')));
        QCOMPARE(!input.fallbackNotice().isEmpty(), saysSo);
    }

    void capturesTheFixtureThroughTheVirtualMicrophone()
    {
        RecordingLogger log;
        QtAudioInput input(log);
        const AudioFormat format = input.inputFormat();
        auto accumulator = std::make_shared<AudioAccumulator>();
        std::mutex lock;
        QList<qsizetype> frames;
        float maxLevel = 0;
        auto fan = std::make_shared<AudioFanOut>(
            format, std::nullopt, nullptr, [accumulator](const QByteArray& pcm, float level) { accumulator->append(pcm, level); },
            [&](float level) {
                std::lock_guard guard(lock);
                maxLevel = std::max(maxLevel, level);
            },
            SoxrConverter::factory());

        QElapsedTimer timer;
        timer.start();
        input.start([&, fan](const AudioBuffer& b) {
            {
                std::lock_guard guard(lock);
                frames.append(b.frameCount());
            }
            fan->process(b);
        });
        // A second of silence first: a stream that starts up may swallow its first moments.
        QTemporaryDir dir;
        const WavFile speech = WavFile::read(fixture("ja_3.wav"));
        const QString padded = writeFile(dir.path() + "/padded.wav", WavFile::encode(speech.format, QByteArray(32000, '\0') + speech.samples));
        QProcess::execute("pactl", {"upload-sample", padded, "velutanora_ja_3"});
        QProcess::execute("pactl", {"play-sample", "velutanora_ja_3", "vsink"});
        QTest::qWait(5500);
        input.stop();
        input.removeTap();
        const double seconds = timer.elapsed() / 1000.0;

        std::lock_guard guard(lock);
        QVERIFY(!frames.isEmpty());
        for (qsizetype f : frames)
            QCOMPARE(f, 1024);
        const double captured = double(frames.size()) * 1024 / format.sampleRate;
        QVERIFY2(captured > seconds * 0.7 && captured < seconds * 1.1,
                 qPrintable(QString("captured %1 s in %2 s").arg(captured).arg(seconds)));
        QVERIFY2(maxLevel > 0.02, qPrintable(QString::number(maxLevel)));

        // The fixture itself through an accumulator: the same silences cut the same way.
        const WavFile original = WavFile::read(fixture("ja_3.wav"));
        AudioAccumulator reference;
        for (qsizetype at = 0; at < original.samples.size(); at += 2048) {
            const QByteArray chunk = original.samples.mid(at, 2048);
            reference.append(chunk, firstChannelRms(AudioBuffer{original.format, chunk}));
        }
        const auto wav = accumulator->buildWAV();
        QVERIFY(wav);
        const double kept = WavFile::parse(*wav).durationSeconds();
        const double expected = WavFile::parse(*reference.buildWAV()).durationSeconds();
        QVERIFY2(std::abs(kept - expected) < 0.3, qPrintable(QString("kept %1 s, expected %2 s").arg(kept).arg(expected)));
    }
};

QTEST_GUILESS_MAIN(TestQtAudioInput)
#include "tst_QtAudioInput.moc"
