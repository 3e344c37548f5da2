#include "audio/VoskRecognizer.h"
#include "support/Files.h"
#include "support/DictationRig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

// A SpeechManager over the given recogniser and a WAV file as the microphone.
struct VoskRig {
    VoskRig(SpeechRecognizer& recognizer, const WavFile& wav)
        : debugLog(dir.path() + "/debug.log"), input(clock, wav),
          speech(log, clock, recognizer, input, debugLog)
    {
    }
    Outcome run(Task<void> task) { return awaited(std::move(task)); } // the recogniser's worker runs in real time
    QTemporaryDir dir;
    RecordingLogger log;
    ManualClock clock;
    FakeWorkspace workspace;
    DebugLog debugLog;
    WavFileAudioInput input;
    SpeechManager speech;
};

} // namespace

class TestVoskRecognizer : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QNetworkAccessManager network;
    RecordingLogger log;

private slots:
    void stubResultsAreAssembled()
    {
        const QString model = dir.path() + "/stub-model-dir";
        writeFile(model + "/stub-model", "");
        writeFile(model + "/script.txt",
                  "0.5 partial きょう\n1.0 final 今日 は\n1.5 partial はれ\n2.0 final 晴れ です\n2.4 partial まだ途中\n");
        VoskRecognizer recognizer(log, VoskApi::load(QStringLiteral(VOSK_STUB_LIBRARY)), {model, "unused"}, network);
        VoskRig rig(recognizer, silenceWav(10));
        ModelCheck check(recognizer);
        QVERIFY(!rig.run(check.ensureJapanese()).error);
        QVERIFY(!rig.run(rig.speech.prepareAudioFormat()).error);
        QVERIFY(recognizer.isAvailable());
        QCOMPARE(rig.speech.cachedAudioFormat(), std::optional<AudioFormat>(AudioFormat::int16Mono16k()));

        QVERIFY(!rig.run(rig.speech.startRecording(false, {"東京"})).error);
        rig.clock.advance(2.6);
        QTRY_COMPARE(rig.speech.transcribedText(), QStringLiteral("今日 は\n晴れ です"));
        QTRY_COMPARE(rig.speech.latestRecognizedText(), QStringLiteral("まだ途中"));
        QVERIFY(!rig.run(rig.speech.stopRecording(true)).error);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("今日 は\n晴れ です\nまだ途中"));
    }

    void realLibvoskRefusesAMissingModel()
    {
        if (!QFile::exists(QStringLiteral(REAL_VOSK_LIBRARY)))
            QSKIP("libvosk.so was not fetched (npm pack vosk@0.3.39)");
        auto api = VoskApi::load(QStringLiteral(REAL_VOSK_LIBRARY));
        QVERIFY(api);
        QVERIFY(!api->modelNew("/nonexistent/velutanora-model"));
        QDir().mkpath(dir.path() + "/empty-model");
        VoskRecognizer recognizer(log, api, {dir.path() + "/empty-model", "unused"}, network);
        QCOMPARE(awaited(recognizer.modelStatus("ja_JP")).result, std::optional(ModelStatus::Unknown));
        QVERIFY(!recognizer.isAvailable());
    }
};

QTEST_GUILESS_MAIN(TestVoskRecognizer)
#include "tst_VoskRecognizer.moc"
