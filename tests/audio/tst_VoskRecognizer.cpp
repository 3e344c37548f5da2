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
    Outcome run(Task<void> task)
    {
        Outcome o;
        spawn(captureOutcome(std::move(task), o));
        for (int i = 0; i < 2000 && !o.done; ++i)
            QTest::qWait(5); // the recogniser's worker runs in real time
        return o;
    }
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
    void loadingTheLibrary()
    {
        QString why;
        const auto stub = VoskApi::load(QStringLiteral(VOSK_STUB_LIBRARY), &why);
        QVERIFY(stub);
        QCOMPARE(QFileInfo(stub->path).canonicalFilePath(), QFileInfo(VOSK_STUB_LIBRARY).canonicalFilePath());
        QVERIFY(!VoskApi::load(QStringLiteral("/nonexistent/libvosk.so"), &why));
        QVERIFY(!why.isEmpty());
        QVERIFY(!VoskApi::load(QStringLiteral("libm.so.6"), &why));
        QVERIFY(why.contains("lacks the functions"));
    }

    void withoutAModel()
    {
        VoskRecognizer recognizer(log, VoskApi::load(QStringLiteral(VOSK_STUB_LIBRARY)),
                                  {dir.path() + "/missing-model", "http://127.0.0.1:9/model.zip"}, network);
        ModelStatus status{};
        VoskRig rig(recognizer, silenceWav(1));
        rig.run([](VoskRecognizer& r, ModelStatus& s) -> Task<void> { s = co_await r.modelStatus("ja_JP"); }(recognizer, status));
        QCOMPARE(status, ModelStatus::Supported);
        QVERIFY(!recognizer.isAvailable());
        // A dictation that needs local text is refused; one that sends its audio runs.
        QVERIFY(rig.run(rig.speech.startRecording(false, {})).error);
        QVERIFY(!rig.run(rig.speech.startRecording(true, {})).error);
        QVERIFY(rig.speech.isRecording());
    }

    void withoutTheLibraryThereIsNoJapanese()
    {
        VoskRecognizer recognizer(log, nullptr, {dir.path() + "/m", "http://127.0.0.1:9/m.zip"}, network);
        VoskRig rig(recognizer, silenceWav(1));
        ModelCheck check(recognizer);
        const Outcome o = rig.run(check.ensureJapanese());
        QVERIFY(errorIs<SpeechError>(o.error));
    }

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
        ModelStatus status{};
        VoskRig rig(recognizer, silenceWav(1));
        rig.run([](VoskRecognizer& r, ModelStatus& s) -> Task<void> { s = co_await r.modelStatus("ja_JP"); }(recognizer, status));
        QCOMPARE(status, ModelStatus::Unknown);
        QVERIFY(!recognizer.isAvailable());
    }

    void realModelRecognisesJapanese()
    {
        const QString model = qEnvironmentVariable("VELUTANORA_TEST_VOSK_MODEL");
        if (model.isEmpty())
            QSKIP("set VELUTANORA_TEST_VOSK_MODEL to a Japanese model directory to run this");
        VoskRecognizer recognizer(log, VoskApi::load(QStringLiteral(REAL_VOSK_LIBRARY)), {model, "unused"}, network);
        VoskRig rig(recognizer, WavFile::read(testdata("speech-ja/ja_1.wav")));
        ModelCheck check(recognizer);
        QVERIFY(!rig.run(check.ensureJapanese()).error);
        QVERIFY(!rig.run(rig.speech.startRecording(false, {})).error);
        rig.clock.advance(3.0);
        QVERIFY(!rig.run(rig.speech.stopRecording(true)).error);
        QVERIFY2(rig.speech.transcribedText().contains(QStringLiteral("晴れ")), qPrintable(rig.speech.transcribedText()));
    }
};

QTEST_GUILESS_MAIN(TestVoskRecognizer)
#include "tst_VoskRecognizer.moc"
