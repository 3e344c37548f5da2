#include "engine/VoskEngine.h"
#include "recording/AudioAccumulator.h"
#include "recording/ModelCheck.h"
#include "support/ModelRig.h"
#include "support/Tones.h"

#include <QDir>
#include <QTest>

using namespace vel;
using namespace vel::test;

// The Vosk models through their engine process: the stand-in library's script assembled into
// text, and engines that end or hang under the program, which goes on.
class TestVoskRecognizer : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QNetworkAccessManager network;
    RecordingLogger log;

private slots:
    void stubResultsAreAssembled()
    {
        ModelRig rig(QStringLiteral("small"), {}, QByteArray(16000 * 2 * 10, '\0'));
        rig.installSmall();
        writeFile(rig.models + "/vosk-model-small-ja-0.22/script.txt",
                  "0.5 partial きょう\n1.0 final 今日 は\n1.5 partial はれ\n2.0 final 晴れ です\n2.4 partial まだ途中\n");
        ModelCheck check(*rig.recognizer);
        QVERIFY(!awaited(check.ensureJapanese()).error);
        QVERIFY(!awaited(rig.speech->prepareAudioFormat()).error);
        QVERIFY(rig.recognizer->isAvailable());
        QVERIFY(rig.small()->engineProcess().processId() != QCoreApplication::applicationPid());
        QCOMPARE(rig.speech->cachedAudioFormat(), std::optional<AudioFormat>(AudioFormat::int16Mono16k()));

        QVERIFY(!awaited(rig.speech->startRecording(false, {"東京"})).error);
        rig.clock.advance(2.6);
        QTRY_COMPARE(rig.speech->transcribedText(), QStringLiteral("今日 は\n晴れ です"));
        QTRY_COMPARE(rig.speech->latestRecognizedText(), QStringLiteral("まだ途中"));
        QVERIFY(!awaited(rig.speech->stopRecording(true)).error);
        QCOMPARE(rig.speech->transcribedText(), QStringLiteral("今日 は\n晴れ です\nまだ途中"));
    }

    void realLibvoskRefusesAMissingModel()
    {
        if (!QFile::exists(QStringLiteral(REAL_VOSK_LIBRARY)))
            QSKIP("libvosk.so was not fetched (npm pack vosk@0.3.39)");
        QVERIFY(!VoskApi::load(QStringLiteral(REAL_VOSK_LIBRARY))->modelNew("/nonexistent/velutanora-model"));
        QDir().mkpath(dir.path() + "/empty-model");
        ModelRecognizer recognizer(log, RecognitionEngine::Vosk,
                                   EngineLaunch{QStringLiteral(VELUTANORA_ENGINE_BINARY), QStringLiteral(REAL_VOSK_LIBRARY)},
                                   {dir.path() + "/empty-model", "unused"}, network);
        QCOMPARE(awaited(recognizer.modelStatus("ja_JP")).result, std::optional(ModelStatus::Unknown));
        QVERIFY(!recognizer.isAvailable());
    }

    // An engine's library may end its process on a model, at the load or in the middle of a
    // dictation, or stop answering. The program lives on: the dictation keeps its audio, the
    // reason is said, the installed small model stands in, and the model is held back across
    // starts until it is chosen again.
    void anEngineThatEndsLeavesTheProgramRunning_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("exit at the load") << QByteArray("exit-at-load") << "終了コード 255";
        QTest::newRow("abort at the load") << QByteArray("abort-at-load") << "SIGABRT";
        QTest::newRow("abort while hearing") << QByteArray("abort 0.5") << "SIGABRT";
        QTest::newRow("segfault while hearing") << QByteArray("segv 0.5") << "SIGSEGV";
        QTest::newRow("hang while hearing") << QByteArray("hang 0.5") << "応答しないため停止しました";
    }
    void anEngineThatEndsLeavesTheProgramRunning()
    {
        QFETCH(QByteArray, fault);
        QFETCH(QString, reason);
        const bool atLoad = !fault.contains(' ');
        ModelRig rig(QStringLiteral("large"), {}, tonePcm(10.0, 0.3));
        rig.installSmall();
        writeFile(rig.models + "/vosk-model-small-ja-0.22/script.txt", "0.2 final 小さいモデル\n");
        const QString large = rig.models + "/" + ModelLocation::kLargeName;
        writeFile(large + "/stub-model", "");
        writeFile(large + "/fault.txt", fault);
        rig.chosen()->engineProcess().setHangSeconds(1.0);
        ModelCheck check(*rig.recognizer);
        QVERIFY(!awaited(check.ensureJapanese()).error);
        if (!atLoad) {
            QCOMPARE(rig.recognizer->active(), rig.chosen());
            QVERIFY(!awaited(rig.speech->startRecording(true, {})).error);
            rig.clock.advance(2.0);
            QTRY_VERIFY_WITH_TIMEOUT(rig.recognizer->active() == rig.small(), 10000);
            QVERIFY(rig.speech->isRecording());
            QVERIFY(!awaited(rig.speech->stopRecording(true)).error);
            // The words are gone with the engine; the recording is not.
            const StoppedDictation stopped = rig.speech->takeStoppedDictation();
            QVERIFY(stopped.audio);
            QVERIFY(stopped.audio->buildWAV().value_or(QByteArray()).size() >= 32000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.recognizer->active(), rig.small(), 10000);
        QVERIFY2(rig.recognizer->fallbackNotice().contains(reason), qPrintable(rig.recognizer->fallbackNotice()));
        QVERIFY2(rig.card->state().line().contains(reason), qPrintable(rig.card->state().line()));
        QCOMPARE(rig.settings.crashedRecognizerModel().first, QStringLiteral("large"));
        QCOMPARE(rig.dictate(1.0), QStringLiteral("小さいモデル"));

        // The next start does not load it again, until it is chosen again.
        std::unique_ptr<ChosenRecognizer> next = makeChosenRecognizer(
            log, rig.settings, network, EngineSources{QStringLiteral(VELUTANORA_ENGINE_BINARY), QStringLiteral(VOSK_STUB_LIBRARY), {}});
        QCOMPARE(awaited(next->modelStatus("ja_JP")).result, std::optional(ModelStatus::Installed));
        QCOMPARE(next->active()->location().directory, rig.small()->location().directory);
        QVERIFY(next->fallbackNotice().contains(QStringLiteral("選び直すともう一度読み込みます")));
        next->choose(QStringLiteral("large"));
        QVERIFY(rig.settings.crashedRecognizerModel().first.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVoskRecognizer)
#include "tst_VoskRecognizer.moc"
