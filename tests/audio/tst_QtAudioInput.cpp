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

namespace {


// RMS per 10 ms of 16 kHz int16 mono.
std::vector<double> envelope(const QByteArray& pcm)
{
    std::vector<double> out;
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    const qsizetype n = pcm.size() / 2;
    for (qsizetype i = 0; i + 160 <= n; i += 160) {
        double sum = 0;
        for (int j = 0; j < 160; ++j)
            sum += double(s[i + j]) * s[i + j];
        out.push_back(std::sqrt(sum / 160));
    }
    return out;
}

// The best normalised correlation of b against a, over lags of up to half their length.
double bestCorrelation(const std::vector<double>& a, const std::vector<double>& b)
{
    double best = -1;
    const int n = static_cast<int>(std::min(a.size(), b.size()));
    for (int lag = -n / 2; lag <= n / 2; ++lag) {
        std::vector<std::pair<double, double>> pairs;
        for (int i = 0; i < static_cast<int>(b.size()); ++i)
            if (i + lag >= 0 && i + lag < static_cast<int>(a.size()))
                pairs.emplace_back(a[i + lag], b[i]);
        if (static_cast<int>(pairs.size()) < n / 2)
            continue;
        double ma = 0, mb = 0, sab = 0, saa = 0, sbb = 0;
        for (auto [x, y] : pairs)
            ma += x, mb += y;
        ma /= pairs.size(), mb /= pairs.size();
        for (auto [x, y] : pairs)
            sab += (x - ma) * (y - mb), saa += (x - ma) * (x - ma), sbb += (y - mb) * (y - mb);
        if (saa > 0 && sbb > 0)
            best = std::max(best, sab / std::sqrt(saa * sbb));
    }
    return best;
}

} // namespace

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

        const auto wav = accumulator->buildWAV();
        QVERIFY(wav);
        const WavFile kept = WavFile::parse(*wav);
        const WavFile original = WavFile::read(fixture("ja_3.wav"));
        QVERIFY2(kept.durationSeconds() > 1.5 && kept.durationSeconds() < original.durationSeconds() + 0.5,
                 qPrintable(QString::number(kept.durationSeconds())));
        // The fixture itself through an accumulator: the same silences cut the same way.
        AudioAccumulator reference;
        for (qsizetype at = 0; at < original.samples.size(); at += 2048) {
            const QByteArray chunk = original.samples.mid(at, 2048);
            reference.append(chunk, firstChannelRms(AudioBuffer{original.format, chunk}));
        }
        const WavFile expected = WavFile::parse(*reference.buildWAV());
        const double correlation = bestCorrelation(envelope(expected.samples), envelope(kept.samples));
        QVERIFY2(correlation > 0.8, qPrintable(QString("kept %1 (%2 s, expected %3 s)")
                                                   .arg(correlation).arg(kept.durationSeconds())
                                                   .arg(expected.durationSeconds())));
    }
};

QTEST_GUILESS_MAIN(TestQtAudioInput)
#include "tst_QtAudioInput.moc"
