#include "engine/SherpaOnnxEngine.h"
#include "recording/ModelCheck.h"
#include "support/ModelRig.h"
#include "support/ModelZip.h"
#include "support/Tones.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

using namespace vel;
using namespace vel::test;

namespace {

// The card's Parakeet chosen, over the real libsherpa-onnx-c-api in its engine process. The
// generated model's frames say あ at 0.8 s, い at 2.4 s and う at 4.0 s of whatever it hears.
struct Rig : ModelRig {
    explicit Rig(const QByteArray& microphone) : ModelRig("parakeet-ja", QStringLiteral(REAL_SHERPA_LIBRARY), microphone) {}
    const QString parakeetDir = models + "/sherpa-onnx-nemo-parakeet-tdt_ctc-0.6b-ja-35000-int8";
};

// The engine's worker runs in real time: these wait for it.
template <class T>
T await(Task<T> task) { return awaited(std::move(task)).result.value(); }
void await(Task<void> task)
{
    const Outcome o = awaited(std::move(task));
    QVERIFY2(o.done && !o.error, qPrintable(o.description()));
}

} // namespace

class TestSherpaOnnxRecognizer : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString model;
    std::shared_ptr<SherpaOnnxApi> api;

    QByteArray file(const char* name) const { return readFile(model + "/" + name); }
    void install(const QString& folder) const
    {
        writeFile(folder + "/model.onnx", file("model.onnx"));
        writeFile(folder + "/tokens.txt", file("tokens.txt"));
    }
    // The generated transducer, made once.
    QString transducer() const
    {
        const QString folder = dir.path() + "/transducer";
        if (!QFileInfo::exists(folder + "/tokens.txt")) {
            QDir().mkpath(folder);
            QProcess python;
            python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TINY_TRANSDUCER_SCRIPT), folder});
            python.waitForFinished(60000);
        }
        return folder;
    }
    QByteArray archive(const QString& folder) const
    {
        return makeTarBz2({{folder + "/model.onnx", file("model.onnx")}, {folder + "/tokens.txt", file("tokens.txt")}});
    }

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

    // A pause ends an utterance: each is decoded once, on its own, as a final text.
    void pausesSplitTheUtterances()
    {
        Rig rig(tonePcm(1.5, 0.2) + silencePcm(1.0) + tonePcm(5.0, 0.2));
        install(rig.parakeetDir);
        await(rig.recognizer->modelStatus("ja_JP"));
        await(rig.speech->startRecording(false, {}));
        rig.clock.advance(3.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.speech->transcribedText(), QStringLiteral("あ"), 10000);
        rig.clock.advance(4.7);
        await(rig.speech->stopRecording(true));
        QCOMPARE(rig.speech->transcribedText(), QStringLiteral("あ\nあいう"));
    }

    // A cancel does not wait for a decode under way; a new dictation runs at once.
    void aCancelDuringADecode()
    {
        Rig rig(tonePcm(60.0, 0.2));
        install(rig.parakeetDir);
        await(rig.recognizer->modelStatus("ja_JP"));
        await(rig.speech->startRecording(false, {}));
        rig.clock.advance(50.0);
        rig.speech->cancelRecording();
        QVERIFY(!rig.speech->isRecording());
        QCOMPARE(rig.dictate(4.5), QStringLiteral("あいう"));
    }

    // What the library refuses (it would end the process or throw) becomes a reason the card and
    // the status line show; an installed model stands in where there is one.
    void aBrokenModelIsRefusedWithItsReason_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("otherInstalled");
        QTest::newRow("no model file") << "no-model" << "model.onnx もありません" << false;
        QTest::newRow("no tokens.txt") << "no-tokens" << "tokens.txt がありません" << true;
        QTest::newRow("tokens without a blank") << "no-blank" << "空白記号がありません" << false;
        QTest::newRow("a truncated ONNX file") << "truncated" << "model.onnx を読み込めません" << true;
        QTest::newRow("a text file named model.onnx") << "text" << "model.onnx は ONNX モデルではありません" << false;
        QTest::newRow("tokens.txt a pipe") << "fifo" << "通常のファイルではありません" << false;
        // The library ends its process on a CTC model without NeMo's metadata: only the engine's.
        QTest::newRow("no NeMo metadata") << "no-metadata" << "音声認識エンジンが終了しました（終了コード" << true;
    }
    void aBrokenModelIsRefusedWithItsReason()
    {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        QFETCH(bool, otherInstalled);
        Rig rig(silencePcm(1.0));
        const QByteArray onnx = file("model.onnx");
        QDir().mkpath(rig.parakeetDir);
        if (damage != "no-model")
            writeFile(rig.parakeetDir + "/model.onnx", damage == "truncated" ? onnx.left(onnx.size() / 3)
                                                       : damage == "text"    ? QByteArray("not a model\n")
                                                                             : onnx);
        if (damage == "fifo")
            QVERIFY(::mkfifo(QFile::encodeName(rig.parakeetDir + "/tokens.txt").constData(), 0600) == 0);
        else if (damage != "no-tokens")
            writeFile(rig.parakeetDir + "/tokens.txt", damage == "no-blank" ? QByteArray("あ 0\n") : file("tokens.txt"));
        if (damage == "no-metadata") {
            QProcess python;
            python.start(QStringLiteral("/usr/bin/python3"),
                         {"-c", "import onnx, sys; m = onnx.load(sys.argv[1]); del m.metadata_props[:]; onnx.save(m, sys.argv[1])",
                          rig.parakeetDir + "/model.onnx"});
            QVERIFY(python.waitForFinished(60000) && python.exitCode() == 0);
        }
        if (otherInstalled)
            rig.installSmall();
        ModelCheck check(*rig.recognizer);
        QSignalSpy status(&check, &ModelCheck::status);
        awaited(check.ensureJapanese());
        QTRY_COMPARE(rig.card->state().phase, ModelState::Phase::Failed);
        QVERIFY2(rig.card->state().line().contains(reason), qPrintable(rig.card->state().line()));
        QVERIFY(!rig.chosen()->isAvailable());
        QCOMPARE(rig.recognizer->isAvailable(), otherInstalled);
        // The status line says which model stands in, or why there is none.
        QVERIFY2(status.last().first().toString().contains(reason), qPrintable(status.last().first().toString()));
        if (otherInstalled) {
            QCOMPARE(rig.recognizer->active(), rig.small());
            for (const QString& told : {rig.card->state().line(), status.last().first().toString()})
                QVERIFY2(told.contains(QStringLiteral("「標準（48 MB）」で認識しています")), qPrintable(told));
        }
    }

    // The card's Parakeet, downloaded as the .tar.bz2 sherpa-onnx publishes or from an archive
    // fetched elsewhere: unpacked, checked, loaded; it takes over from the model that stood in
    // for it, and the next dictation hears through it.
    void theCardInstallsTheModelAndADictationUsesIt_data()
    {
        QTest::addColumn<bool>("download");
        QTest::newRow("download") << true;
        QTest::newRow("a local archive") << false;
    }
    void theCardInstallsTheModelAndADictationUsesIt()
    {
        QFETCH(bool, download);
        Rig rig(tonePcm(5.0, 0.2));
        rig.installSmall();
        await(rig.recognizer->modelStatus("ja_JP"));
        QCOMPARE(rig.recognizer->active(), rig.small());
        QCOMPARE(rig.card->state().phase, ModelState::Phase::Absent);
        const QString folder = QFileInfo(rig.parakeetDir).fileName();
        const QString fetched = rig.dir.path() + "/fetched elsewhere.tar.bz2";
        if (download) {
            rig.server.setOtherReply(FakeReply::raw(archive(folder)));
            rig.card->download();
        } else {
            rig.card->installArchive(writeFile(fetched, archive(folder)));
            QCOMPARE(rig.card->state().phase, ModelState::Phase::Installing);
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.settled(), 20000);
        QCOMPARE(rig.card->state().phase, ModelState::Phase::Installed);
        QCOMPARE(rig.server.requests().size(), download ? 1 : 0); // an archive install never goes to the network
        if (download)
            QCOMPARE(rig.server.requests().last().path, "/models/" + folder + ".tar.bz2");
        else
            QVERIFY2(QFile::exists(fetched), "the user's archive stays where it was");
        QCOMPARE(rig.recognizer->fallbackNotice(), QString());
        QCOMPARE(rig.recognizer->active(), rig.chosen());
        QVERIFY(!rig.small()->isAvailable());

        QCOMPARE(rig.dictate(5.2), QStringLiteral("あいう"));
    }

    // A transducer's search takes the dictionary's words: a word it would not have chosen wins;
    // words its tokens cannot spell are passed over.
    void theDictionaryBiasesATransducer_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("heard");
        QTest::newRow("no words") << QStringList() << "あ";
        QTest::newRow("a word") << QStringList{"い"} << "い";
        QTest::newRow("a word among ones it cannot spell") << QStringList{"Kubernetes", "い"} << "い";
        QTest::newRow("words it cannot spell") << QStringList{"う", "Kubernetes", " "} << "あ";
    }
    void theDictionaryBiasesATransducer()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, heard);
        const QString folder = transducer();
        SherpaOnnxEngine engine(api, true);
        const QString failure = engine.load(folder, 1);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        std::shared_ptr<RecognizerSession> session = engine.makeSession(words);
        session->appendAudio(AudioBuffer{AudioFormat::int16Mono16k(), tonePcm(1.0, 0.2)});
        session->finishInput();
        QString text;
        for (;;) {
            const std::optional<RecognitionResult> result = await(session->nextResult());
            if (!result)
                break;
            if (result->isFinal)
                text += result->text;
        }
        QCOMPARE(text, heard);
    }

    // The library would end the process on a decoder without its metadata.
    void aTransducerWithoutItsMetadataIsRefused()
    {
        const QString folder = dir.path() + "/no-metadata";
        for (const char* name : {"encoder.onnx", "joiner.onnx", "tokens.txt"})
            writeFile(folder + "/" + name, readFile(transducer() + "/" + name));
        writeFile(folder + "/decoder.onnx", readFile(transducer() + "/joiner.onnx"));
        QVERIFY(SherpaOnnxEngine(api, true).load(folder, 1).contains("context_size"));
        // A broken file is named as itself, not as the encoder.
        writeFile(folder + "/decoder.onnx", readFile(transducer() + "/decoder.onnx"));
        writeFile(folder + "/joiner.onnx", "not a model");
        QVERIFY(SherpaOnnxEngine(api, true).load(folder, 1).startsWith("joiner.onnx"));
    }

    // A dictation started while the model loads (at launch, after a new choice) waits for it,
    // and says so, instead of running without it.
    void aDictationStartedWhileTheModelLoadsWaitsForIt()
    {
        Rig rig(tonePcm(5.0, 0.2));
        install(rig.parakeetDir);
        ValueOutcome<ModelStatus> loaded;
        // Both start from the event loop in this order: the load is under way when the start runs.
        spawn(captureOutcome(rig.recognizer->modelStatus("ja_JP"), loaded));
        QSignalSpy waiting(rig.speech.get(), &SpeechManager::waitingForModel);
        await(rig.speech->startRecording(false, {}));
        QCOMPARE(waiting.size(), 2);
        QVERIFY(loaded.done);
        QVERIFY(rig.speech->isRecording());
        // The recording so far is decoded again while the user speaks; the stop decodes all of it.
        rig.clock.advance(3.0);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.speech->latestRecognizedText().isEmpty(), 10000);
        QVERIFY2(QStringLiteral("あい").startsWith(rig.speech->latestRecognizedText()), qPrintable(rig.speech->latestRecognizedText()));
        QCOMPARE(rig.speech->transcribedText(), QString());
        rig.clock.advance(2.2);
        await(rig.speech->stopRecording(true));
        QCOMPARE(rig.speech->transcribedText(), QStringLiteral("あいう"));
    }
};

QTEST_GUILESS_MAIN(TestSherpaOnnxRecognizer)
#include "tst_SherpaOnnxRecognizer.moc"
