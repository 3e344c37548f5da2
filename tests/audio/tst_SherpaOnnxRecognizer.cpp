#include "audio/SherpaOnnxRecognizer.h"
#include "common/Clock.h"
#include "common/Logger.h"
#include "recording/DebugLog.h"
#include "recording/SpeechManager.h"
#include "recording/WavFileAudioInput.h"
#include "support/Files.h"
#include "support/Outcome.h"
#include "support/Tones.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

// The real libsherpa-onnx-c-api on a model generated for the test: its frames say あ at 0.8 s,
// い at 2.4 s and う at 4.0 s of whatever it hears.
struct EngineRig {
    EngineRig(std::shared_ptr<SherpaOnnxApi> api, const QString& model, const QByteArray& microphone)
        : recognizer(log, std::move(api), model, 1), debugLog(dir.path() + "/debug.log"),
          input(clock, WavFile{AudioFormat::int16Mono16k(), microphone}),
          speech(log, clock, recognizer, input, debugLog)
    {
    }
    template <class T>
    ValueOutcome<T> run(Task<T> task)
    {
        ValueOutcome<T> o;
        spawn(captureOutcome(std::move(task), o));
        for (int i = 0; i < 4000 && !o.done; ++i)
            QTest::qWait(5); // the engine's worker runs in real time
        return o;
    }
    Outcome run(Task<void> task)
    {
        Outcome o;
        spawn(captureOutcome(std::move(task), o));
        for (int i = 0; i < 4000 && !o.done; ++i)
            QTest::qWait(5);
        return o;
    }
    QTemporaryDir dir;
    RecordingLogger log;
    ManualClock clock;
    SherpaOnnxRecognizer recognizer;
    DebugLog debugLog;
    WavFileAudioInput input;
    SpeechManager speech;
};

} // namespace

class TestSherpaOnnxRecognizer : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString model;
    std::shared_ptr<SherpaOnnxApi> api;

private slots:
    void initTestCase()
    {
        QString why;
        api = SherpaOnnxApi::load(QStringLiteral(REAL_SHERPA_LIBRARY), &why);
        if (!api)
            QSKIP(qPrintable("libsherpa-onnx-c-api.so was not fetched (npm pack sherpa-onnx-linux-x64): " + why));
        model = dir.path() + "/tiny";
        QDir().mkpath(model);
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TINY_MODEL_SCRIPT), model, "あ@0.8", "い@2.4", "う@4.0"});
        QVERIFY(python.waitForFinished(60000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    }

    void theLibraryIsTheOneAsked()
    {
        QCOMPARE(QString::fromUtf8(api->version()), QStringLiteral("1.13.8"));
        QString why;
        QVERIFY(!SherpaOnnxApi::load(QStringLiteral("/nonexistent/libsherpa-onnx-c-api.so"), &why));
        QVERIFY(!why.isEmpty());
        QVERIFY(!SherpaOnnxApi::load(QStringLiteral("libm.so.6"), &why));
        QVERIFY(why.contains("lacks the functions"));
    }

    // The recording so far is decoded again while the user speaks; the stop decodes all of it.
    void aDictationGivesVolatileThenFinalText()
    {
        EngineRig rig(api, model, tonePcm(5.0, 0.2));
        QCOMPARE(rig.run(rig.recognizer.modelStatus("ja_JP")).result, std::optional(ModelStatus::Installed));
        QVERIFY(!rig.run(rig.speech.prepareAudioFormat()).error);
        QVERIFY(!rig.run(rig.speech.startRecording(false, {})).error);
        rig.clock.advance(3.0);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.speech.latestRecognizedText().isEmpty(), 10000);
        QVERIFY2(QStringLiteral("あい").startsWith(rig.speech.latestRecognizedText()), qPrintable(rig.speech.latestRecognizedText()));
        QCOMPARE(rig.speech.transcribedText(), QString());
        rig.clock.advance(2.2);
        QVERIFY(!rig.run(rig.speech.stopRecording(true)).error);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("あいう"));
    }

    // A pause ends an utterance: each is decoded once, on its own, as a final text.
    void pausesSplitTheUtterances()
    {
        EngineRig rig(api, model, tonePcm(1.5, 0.2) + silencePcm(1.0) + tonePcm(5.0, 0.2));
        rig.run(rig.recognizer.modelStatus("ja_JP"));
        QVERIFY(!rig.run(rig.speech.prepareAudioFormat()).error);
        QVERIFY(!rig.run(rig.speech.startRecording(false, {})).error);
        rig.clock.advance(3.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.speech.transcribedText(), QStringLiteral("あ"), 10000);
        rig.clock.advance(4.7);
        QVERIFY(!rig.run(rig.speech.stopRecording(true)).error);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("あ\nあいう"));
    }

    // A cancel does not wait for a decode under way; a new dictation runs at once.
    void aCancelDuringADecode()
    {
        EngineRig rig(api, model, tonePcm(60.0, 0.2));
        rig.run(rig.recognizer.modelStatus("ja_JP"));
        QVERIFY(!rig.run(rig.speech.prepareAudioFormat()).error);
        QVERIFY(!rig.run(rig.speech.startRecording(false, {})).error);
        rig.clock.advance(50.0);
        rig.speech.cancelRecording();
        QVERIFY(!rig.speech.isRecording());
        QVERIFY(!rig.run(rig.speech.startRecording(false, {})).error);
        rig.clock.advance(4.5);
        QVERIFY(!rig.run(rig.speech.stopRecording(true)).error);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("あいう"));
    }

    // What the library refuses becomes a reason the status line can show, never a crash.
    void aBrokenModelFolderIsRefusedWithItsReason_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no model file") << "no-model" << "model.onnx もありません";
        QTest::newRow("no tokens.txt") << "no-tokens" << "tokens.txt がありません";
        QTest::newRow("tokens without a blank") << "no-blank" << "空白記号がありません";
        QTest::newRow("a truncated ONNX file") << "truncated" << "model.onnx を読み込めません";
    }
    void aBrokenModelFolderIsRefusedWithItsReason()
    {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        const QString broken = dir.path() + "/" + damage;
        QDir().mkpath(broken);
        const QByteArray onnx = readFile(model + "/model.onnx");
        if (damage != "no-model")
            writeFile(broken + "/model.onnx", damage == "truncated" ? onnx.left(onnx.size() / 3) : onnx);
        if (damage != "no-tokens")
            writeFile(broken + "/tokens.txt", damage == "no-blank" ? QByteArray("あ 0\n") : readFile(model + "/tokens.txt"));
        EngineRig rig(api, broken, silencePcm(1.0));
        QCOMPARE(rig.run(rig.recognizer.modelStatus("ja_JP")).result, std::optional(ModelStatus::Unknown));
        QVERIFY2(rig.recognizer.loadFailure().contains(reason), qPrintable(rig.recognizer.loadFailure()));
        QVERIFY(!rig.recognizer.isAvailable());
    }
};

QTEST_GUILESS_MAIN(TestSherpaOnnxRecognizer)
#include "tst_SherpaOnnxRecognizer.moc"
