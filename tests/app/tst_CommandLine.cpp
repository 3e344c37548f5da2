#include "common/Clock.h"
#include "settings/KeyValueStore.h"
#include "settings/RecordingHistory.h"
#include "support/ProgramRunner.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vel;
using namespace vel::test;

namespace {

using Result = vel::test::ProgramResult;
using vel::test::runProgram;

void seed(const QString& configHome, const QJsonObject& object) { QVERIFY(vel::test::seedStore(configHome, object)); }

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    // The printed shape, and the edge cases of what it prints; the values themselves are the
    // settings' and the history's, tested there.
    void printSettings()
    {
        QTemporaryDir dir;
        const Result empty = runProgram({"--print-settings"}, dir.path());
        QCOMPARE(empty.exitCode, 0);
        const QJsonObject defaults = QJsonDocument::fromJson(empty.out.toUtf8()).object();
        QCOMPARE(defaults.value("startShortcut").toObject(),
                 (QJsonObject{{"keysym", 32}, {"modifiers", 4}, {"display", "Alt+Space"}}));
        QCOMPARE(defaults.value("correctionMode").toString(), QStringLiteral("fast"));
        QCOMPARE(defaults.value("usage").toObject().value("estimatedCost").toDouble(), 0.0);
        QVERIFY2(!QFile::exists(dir.path() + "/velutanora/defaults.json"), "reading an empty store writes nothing");

        const double now = referenceDateFromUnix(SystemClock().now());
        const QList<RecordingEntry> entries{
            {QUuid::createUuid(), "新しい", QStringLiteral("あたらしい"), now - 60, {}, {}},
            {QUuid::createUuid(), "古い", {}, now - 8 * 86400, {}, {}},
        };
        QJsonObject seeded{
            {"gemini_api_key", "AIzaSyExample1234"},
            {"recording_history", KeyValueStore::encodeData(RecordingHistory::encode(entries))},
            {"start_shortcut", KeyValueStore::encodeData(R"({"keyCode":54,"modifiers":1048576})")},
            {"UsageTracker.totalRequests", 3},
            {"UsageTracker.totalInputTokens", 1000000},
        };
        seed(dir.path(), seeded);
        const Result r = runProgram({"--print-settings"}, dir.path());
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("geminiApiKey").toString(), QStringLiteral("…1234"));
        QVERIFY(!r.out.contains("AIzaSy"));
        QCOMPARE(o.value("startShortcut").toObject().value("display").toString(), QStringLiteral("右Super"));
        const QJsonArray history = o.value("history").toArray();
        QCOMPARE(history.size(), 1);
        QCOMPARE(history.at(0).toObject().value("text").toString(), QStringLiteral("新しい"));
        QCOMPARE(history.at(0).toObject().value("originalText").toString(), QStringLiteral("あたらしい"));
        QVERIFY(history.at(0).toObject().value("date").toString().endsWith('Z'));
        const QJsonObject usage = o.value("usage").toObject();
        QCOMPARE(usage.value("totalRequests").toInteger(), 3);
        QCOMPARE(usage.value("estimatedCost").toDouble(), 0.15);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("content"); // of @FILE@
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << QByteArray();
        QTest::newRow("unknown command") << QStringList{"dance"} << QByteArray();
        QTest::newRow("extra argument") << QStringList{"--print-settings", "now"} << QByteArray();
        QTest::newRow("process: missing file") << QStringList{"process", "--file", "/nonexistent/x.txt"} << QByteArray();
        QTest::newRow("process: invalid UTF-8") << QStringList{"process", "--file", "@FILE@"} << QByteArray("\xff\xfe\x00", 3);
        QTest::newRow("process: unknown mode") << QStringList{"process", "--mode", "turbo", "--text", "x"} << QByteArray();
        QTest::newRow("process: no input") << QStringList{"process", "--mode", "fast"} << QByteArray();
        QTest::newRow("process: text and file") << QStringList{"process", "--text", "x", "--file", "y"} << QByteArray();
        QTest::newRow("process: dangling option") << QStringList{"process", "--text"} << QByteArray();
        QTest::newRow("transcribe: not a WAV") << QStringList{"transcribe", "@FILE@"} << QByteArray("ID3 not audio at all");
        QTest::newRow("transcribe: 8-bit WAV")
            << QStringList{"transcribe", "@FILE@"}
            << QByteArray::fromHex("524946462800000057415645666d74201000000001000100401f0000401f0000010008006461746104000000");
        // Mono 16-bit PCM at 1 Hz with 40 KB of samples.
        QByteArray oneHertz = QByteArray::fromHex("52494646649c000057415645666d74201000000001000100010000000200000002001000"
                                                  "64617461409c0000");
        oneHertz.append(QByteArray(40000, '\x11'));
        QTest::newRow("transcribe: 1 Hz WAV") << QStringList{"transcribe", "@FILE@"} << oneHertz;
        QTest::newRow("process: an option twice") << QStringList{"process", "--mode", "fast", "--mode", "fast", "--text", "x"} << QByteArray();
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        args.replaceInStrings("@FILE@", writeFile(dir.path() + "/in", content));
        const Result r = runProgram(args, dir.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.startsWith("velutanora: "));
        QVERIFY(r.err.count('\n') <= 2);
    }

    // A pipe or a device would block or never end; a huge file would fill the memory.
    void refusesWhatItShouldNotRead_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("input"); // "fifo", "device", or a sparse file of this many bytes
        QTest::newRow("process: a FIFO") << "process" << "fifo";
        QTest::newRow("process: a device") << "process" << "device";
        QTest::newRow("process: over 16 MB of text") << "process" << QString::number(17 << 20);
        QTest::newRow("transcribe: a FIFO") << "transcribe" << "fifo";
        QTest::newRow("transcribe: a device") << "transcribe" << "device";
        QTest::newRow("transcribe: over two hours") << "transcribe" << QString::number(7300 * 16000LL);
    }
    void refusesWhatItShouldNotRead()
    {
        QFETCH(QString, command);
        QFETCH(QString, input);
        QTemporaryDir dir;
        QString path = dir.path() + "/in";
        if (input == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (input == "device") {
            path = "/dev/zero";
        } else {
            // 8 kHz 16-bit mono: a header, then zeros the file system need not store.
            writeFile(path, QByteArray::fromHex("52494646ffffffff57415645666d74201000000001000100401f0000803e0000020010006461"
                                                "7461ffffffff"));
            QVERIFY(QFile(path).resize(input.toLongLong()));
        }
        const QStringList args = command == "process" ? QStringList{"process", "--file", path} : QStringList{"transcribe", path};
        const Result r = runProgram(args, dir.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith("velutanora: "), qPrintable(r.err));
    }

    void versionAndHelp()
    {
        QTemporaryDir dir;
        const Result version = runProgram({"--version"}, dir.path(), VOSK_STUB_LIBRARY);
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith("velutanora "));
        // The library line names the file actually loaded, so a user can tell which libvosk runs.
        QVERIFY2(version.out.contains("libvosk: " + QFileInfo(VOSK_STUB_LIBRARY).canonicalFilePath() + "\n"),
                 qPrintable(version.out));
        const Result missing = runProgram({"--version"}, dir.path(), dir.filePath("none/libvosk.so"));
        QCOMPARE(missing.exitCode, 0);
        QVERIFY2(missing.out.contains("libvosk: not available ("), qPrintable(missing.out));
        const Result help = runProgram({"--help"}, dir.path());
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--print-settings"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
