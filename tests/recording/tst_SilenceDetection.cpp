#include "support/DictationRig.h"
#include "support/Tones.h"

#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

// Drives the published level directly: one value per 0.1 s tick.
struct LevelScript {
    DictationRig& rig;
    QList<std::optional<int>> countdowns; // every published change
    int firings = 0;

    explicit LevelScript(DictationRig& r) : rig(r)
    {
        QObject::connect(&rig.speech, &SpeechManager::silenceCountdownChanged, [this] {
            countdowns.append(rig.speech.silenceCountdown());
        });
        QObject::connect(&rig.speech, &SpeechManager::silenceDetected, [this] { ++firings; });
    }
};

} // namespace

class TestSilenceDetection : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void exactTicksOfTheDefaultCountdown()
    {
        // Tone until exactly 1.0 s, silence afterwards: the silence begins on the first quiet tick.
        const QString path = writeWav(dir.path(), "tone1.wav", tonePcm(1.0, 0.3) + QByteArray(16000 * 2 * 10, '\0'));
        {
            DictationRig rig(path); // without a limit: it never ends by itself
            LevelScript script(rig);
            rig.start();
            rig.clock.advance(6.0);
            QCOMPARE(script.firings, 0);
            QVERIFY(!rig.speech.hasSilenceTimer());
        }
        DictationRig rig(path);
        LevelScript script(rig);
        QList<double> changeTimes;
        const double t0 = rig.clock.now();
        QObject::connect(&rig.speech, &SpeechManager::silenceCountdownChanged,
                         [&] { changeTimes.append(rig.clock.now() - t0); });
        QVERIFY(!rig.run(rig.speech.startRecording(false, {}, 3.0)).error);
        rig.clock.advance(6.0);
        QCOMPARE(script.countdowns, (QList<std::optional<int>>{3, 2, 1, 0}));
        // 3 from 0.3 s of silence, 2 from 1.0 s, 1 from 2.0 s, 0 at 3.0 s. Levels lag the audio by
        // up to one 64 ms buffer and the smoothing by a tick, so the times fall in a window.
        QCOMPARE(changeTimes.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const double expected = 1.0 + QList<double>{0.3, 1.0, 2.0, 3.0}.at(i);
            QVERIFY2(changeTimes.at(i) >= expected - 0.05 && changeTimes.at(i) <= expected + 0.35,
                     qPrintable(QString::number(changeTimes.at(i))));
        }
        QVERIFY(qAbs(changeTimes.at(3) - changeTimes.at(0) - 2.7) < 1e-3);
        QCOMPARE(script.firings, 1);
        rig.stop();
        QCOMPARE(rig.speech.silenceCountdown(), std::nullopt);
        QVERIFY(!rig.speech.hasSilenceTimer());
    }
};

QTEST_GUILESS_MAIN(TestSilenceDetection)
#include "tst_SilenceDetection.moc"
