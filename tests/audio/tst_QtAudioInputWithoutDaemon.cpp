#include "audio/QtAudioInput.h"
#include "support/DictationRig.h"

#include <QTest>

using namespace vel;
using namespace vel::test;

// Without a sound server there is no input: the start fails cleanly and everything is released.
class TestQtAudioInputWithoutDaemon : public QObject {
    Q_OBJECT
private slots:
    void startFailsCleanly()
    {
        QTemporaryDir dir;
        RecordingLogger log;
        ManualClock clock;
        ScriptedRecognizer recognizer;
        FakeWorkspace workspace;
        DebugLog debugLog(dir.path() + "/debug.log");
        QtAudioInput input(log);
        SpeechManager speech(log, clock, recognizer, input, debugLog);
        const auto o = awaited(speech.startRecording(true, {}));
        QCOMPARE(o.description(), QStringLiteral("マイクが見つかりません。入力デバイスを接続してください。"));
        QVERIFY(!speech.isRecording());
        QVERIFY(!speech.isAudioRunning());
        QVERIFY(!speech.geminiAudioAccumulator());
        QVERIFY(!speech.hasRecognizerSession());
        QVERIFY(log.contains("🎤 [START] failed, rolled back: マイクが見つかりません。入力デバイスを接続してください。"));
    }
};

QTEST_GUILESS_MAIN(TestQtAudioInputWithoutDaemon)
#include "tst_QtAudioInputWithoutDaemon.moc"
