#include "audio/ModelInstaller.h"
#include "audio/ModelRecognizer.h"
#include "support/FakeGeminiServer.h"
#include "support/ModelZip.h"
#include "support/DictationRig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QNetworkAccessManager>
#include <QTest>


using namespace vel;
using namespace vel::test;

namespace {

// Files left anywhere under dir (temporary downloads and unpack folders included).
QStringList filesUnder(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}

} // namespace

class TestModelInstaller : public QObject {
    Q_OBJECT

    QNetworkAccessManager network;

    struct Run {
        QTemporaryDir dir;
        RecordingLogger log;
        QString modelDir;
        Outcome outcome;
        QList<int> progress;
        qint64 free = -1; // the disk's free bytes as the installer sees them (-1: the real ones)
    };

    void install(Run& run, FakeGeminiServer& server, const QString& sha256 = {})
    {
        run.modelDir = run.dir.path() + "/models/vosk-model-small-ja-0.22";
        const ModelLocation location{run.modelDir, server.baseUrl() + "/model.zip", sha256};
        // The folder is checked by loading it in an engine process, as the program does.
        ModelRecognizer checker(run.log, RecognitionEngine::Vosk,
                                EngineLaunch{QStringLiteral(VELUTANORA_ENGINE_BINARY), QStringLiteral(VOSK_STUB_LIBRARY)}, location,
                                network);
        auto installer = std::make_shared<ModelInstaller>(run.log, network, location,
                                                          [&checker](const QString& folder) { return checker.checkFolder(folder); });
        installer->onProgress = [&run](int p) { run.progress.append(p); };
        if (run.free >= 0)
            installer->freeSpace = [free = run.free](const QString&) { return free; };
        installer->stallTimeoutMs = 300;
        installer->slowWindowMs = 500;
        installer->slowWindowMinimumBytes = 1024;
        run.outcome = awaited(installer->downloadAndInstall());
    }

private slots:
    void goodZipIsInstalled()
    {
        FakeGeminiServer server;
        QVERIFY(server.listen());
        server.setOtherReply(FakeReply::raw(goodModel()));
        Run run;
        const QByteArray sum = QCryptographicHash::hash(goodModel(), QCryptographicHash::Sha256).toHex();
        run.free = 50'000'000; // a small model fits a disk with little room
        install(run, server, QString::fromLatin1(sum));
        QVERIFY2(!run.outcome.error, qPrintable(run.outcome.description()));
        QVERIFY(QFile::exists(run.modelDir + "/stub-model"));
        QVERIFY(QFile::exists(run.modelDir + "/am/final.mdl"));
        QCOMPARE(filesUnder(run.dir.path() + "/models").size(), 3); // nothing else left behind
        QVERIFY(!run.progress.isEmpty());
        QCOMPARE(run.progress.last(), 100);
        QCOMPARE(server.requests().first().path, QStringLiteral("/model.zip"));
    }

    void failuresLeaveNothingBehind_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("truncated zip") << 0 << "壊れています";
        QTest::newRow("not a model") << 1 << "音声認識モデルではありません";
        QTest::newRow("HTTP 404") << 3 << "HTTP 404";
        QTest::newRow("unsafe entry") << 4 << "unsafe entry";
        QTest::newRow("symbolic link entry") << 5 << "not a regular file";
        // Cut where the last entry begins (or announced that short): without the central
        // directory it is no model, even though every entry read so far is whole.
        QTest::newRow("cut at an entry boundary") << 6 << "壊れています";
        QTest::newRow("cut inside the central directory") << 9 << "壊れています";
        QTest::newRow("a zip bomb: 70 MB of zeros") << 7 << "大きすぎます";
        QTest::newRow("not the pinned archive") << 8 << "SHA-256";
        QTest::newRow("a .tar.bz2 cut short") << 10 << "壊れています";
        QTest::newRow("a login page, not an archive") << 11 << "壊れています";
        QTest::newRow("no room for the download") << 12 << "ディスクの空きが足りません（ダウンロードと展開に";
    }
    void failuresLeaveNothingBehind()
    {
        QFETCH(int, kind);
        QFETCH(QString, expected);
        FakeGeminiServer server;
        QVERIFY(server.listen());
        const QByteArray good = goodModel();
        switch (kind) {
        case 0: server.setOtherReply(FakeReply::raw(good.left(good.size() / 2))); break;
        case 1: server.setOtherReply(FakeReply::raw(makeZip({{"vosk-model-small-ja-0.22/README", "hello"}}))); break;
        case 3: server.setOtherReply(FakeReply::withStatus(404, "no")); break;
        case 4: server.setOtherReply(FakeReply::raw(makeZip({{"vosk-model-small-ja-0.22/stub-model", ""}, {"../evil", "x"}}))); break;
        case 5: server.setOtherReply(FakeReply::raw(makeZip({{"m/stub-model", ""}, {"m/link", "/etc/passwd", true}}))); break;
        case 6: {
            const QByteArray stored = makeStoredZip({{"m/stub-model", ""}, {"m/script.txt", "x"}, {"m/am/final.mdl", "last"}});
            server.setOtherReply(FakeReply::raw(stored.left(stored.indexOf("PK\x03\x04", stored.indexOf("m/script.txt")))));
            break;
        }
        case 7: server.setOtherReply(FakeReply::raw(makeZip({{"m/stub-model", ""}, {"m/am/final.mdl", QByteArray(70'000'000, '\0')}}))); break;
        case 8: server.setOtherReply(FakeReply::raw(good)); break;
        case 10: {
            const QByteArray tar = makeTarBz2({{"m/stub-model", ""}, {"m/am/final.mdl", QByteArray(200'000, 'm')}});
            server.setOtherReply(FakeReply::raw(tar.left(tar.size() * 2 / 3)));
            break;
        }
        case 11: server.setOtherReply(FakeReply::raw("<html>login</html>")); break;
        case 12: server.setOtherReply(FakeReply::raw(good)); break;
        case 9: {
            const QByteArray stored = makeStoredZip({{"m/stub-model", ""}, {"m/script.txt", "x"}, {"m/am/final.mdl", "last"}});
            server.setOtherReply(FakeReply::raw(stored.left(stored.indexOf("PK\x01\x02") + 50)));
            break;
        }
        }
        Run run;
        if (kind == 12)
            run.free = good.size();
        install(run, server, kind == 8 ? QString(64, '0') : QString());
        QVERIFY(run.outcome.error);
        QVERIFY2(run.outcome.description().contains(expected), qPrintable(run.outcome.description()));
        QVERIFY2(filesUnder(run.dir.path()).isEmpty(), qPrintable(filesUnder(run.dir.path()).join(", ")));
        QVERIFY(!QFile::exists(run.dir.path() + "/evil"));
    }

    // A download that stops is kept and continued by the next attempt.
    void aStoppedDownloadResumes_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::addColumn<bool>("serverResumes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("connection lost, range served") << "close" << true << "ダウンロードに失敗しました: ";
        QTest::newRow("connection lost, range ignored") << "close" << false << "ダウンロードに失敗しました: ";
        QTest::newRow("server stalls") << "stall" << true << "止まったまま";
        QTest::newRow("server drips, range ignored") << "drip" << false << "ほとんど進みません";
    }
    void aStoppedDownloadResumes()
    {
        QFETCH(QString, stop);
        QFETCH(bool, serverResumes);
        QFETCH(QString, reason);
        FakeGeminiServer server;
        QVERIFY(server.listen());
        const QByteArray good = goodModel();
        Run run;
        server.setOtherReply(stop == "close"   ? FakeReply::closeMidway(good)
                             : stop == "drip" ? FakeReply::drip(50)
                                              : FakeReply::stallMidway(good));
        install(run, server);
        QVERIFY(run.outcome.error);
        QVERIFY2(run.outcome.description().contains(reason), qPrintable(run.outcome.description()));
        const QString part = run.dir.path() + "/models/.vosk-model-small-ja-0.22.zip.part";
        QVERIFY2(QFile::exists(part), qPrintable(filesUnder(run.dir.path()).join(", ")));
        const qint64 kept = QFileInfo(part).size();
        QVERIFY(kept > 0);
        QVERIFY(!QFile::exists(run.modelDir));

        if (serverResumes) {
            QByteArray range = "Content-Range: bytes " + QByteArray::number(kept) + "-" + QByteArray::number(good.size() - 1)
                               + "/" + QByteArray::number(good.size());
            FakeReply rest = FakeReply::raw(good.mid(kept)).withHeader(range);
            rest.status = 206;
            server.setOtherReply(rest);
        } else {
            server.setOtherReply(FakeReply::raw(good));
        }
        install(run, server);
        QVERIFY2(!run.outcome.error, qPrintable(run.outcome.description()));
        QCOMPARE(server.requests().last().headers.value("range"), "bytes=" + QByteArray::number(kept) + "-");
        QVERIFY(QFile::exists(run.modelDir + "/am/final.mdl"));
        QCOMPARE(QFile(run.modelDir + "/am/final.mdl").size(), 5000);
        QVERIFY(!QFile::exists(part));
        QCOMPARE(run.progress.last(), 100);
    }

    // The start-up's check lets commands through once it knows the state: during the download a
    // dictation runs where Gemini hears the audio, and otherwise says how far the download is.
    void aDictationDuringTheStartUpDownload()
    {
        DictationRig rig;
        rig.recognizer.model = ModelStatus::Supported;
        rig.recognizer.available = false;
        rig.recognizer.installation->pauseAt = 50;
        bool checked = false;
        Outcome download;
        spawn(captureOutcome(rig.modelCheck.ensureJapanese([&checked] { checked = true; }), download));
        QTRY_VERIFY(checked);
        QVERIFY(!download.done);
        const Outcome local = rig.start(false);
        QVERIFY2(local.description().contains(QStringLiteral("ダウンロード中です（50 %）")), qPrintable(local.description()));
        QVERIFY(!rig.start(true).error);
        QVERIFY(rig.speech.isRecording());
        rig.recognizer.installation->resume.resolve(Unit{});
        QTRY_VERIFY(download.done);
        QVERIFY(!rig.modelCheck.downloadPercent());
    }

};

QTEST_GUILESS_MAIN(TestModelInstaller)
#include "tst_ModelInstaller.moc"
