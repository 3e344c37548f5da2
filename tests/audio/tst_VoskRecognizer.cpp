#include "recording/ModelCheck.h"
#include "support/ModelRig.h"

#include <QDir>
#include <QTest>

using namespace vel;
using namespace vel::test;

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
