#include "support/FakeGeminiServer.h"
#include "support/ProgramRunner.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vel::test;

namespace {

using Result = ProgramResult;

void seed(const QString& configHome, const QJsonObject& object) { QVERIFY(seedStore(configHome, object)); }
QJsonObject stored(const QString& configHome) { return storedObject(configHome); }

} // namespace

class TestProcessCommand : public QObject {
    Q_OBJECT
private slots:
    void localExamples_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        // The rules themselves are the text processor's; these show the command applies them.
        QTest::newRow("filler and self-correction") << "えーっと、明日、いや、明後日に行きます" << "明後日に行きます。";
        QTest::newRow("lines and a question") << "了解です。行くのかな。" << "了解です。\n行くのかな？";
        QTest::newRow("only fillers") << "えーっと、あのー、" << "";
    }
    void localExamples()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const Result r = runProgram({"process", "--text", input}, dir.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, expected.isEmpty() ? QString() : expected + "\n");
    }

    void geminiCorrectsWithTheLocalTextAndRecordsUsage()
    {
        FakeGeminiServer server;
        QVERIFY(server.listen());
        server.enqueue(FakeReply::answer("とうきょうに行きますか",
                                         R"({"promptTokenCount":100,"candidatesTokenCount":10,"thoughtsTokenCount":5})"));
        QTemporaryDir dir;
        const QByteArray dictionary = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","term":"東京","reading":"とうきょう"}])";
        seed(dir.path(), {{"gemini_api_key", "K-123"},
                          {"gemini_base_url", server.baseUrl()},
                          {"correction_mode", "instant"},
                          {"dictionary_entries", QJsonObject{{"$data", QString::fromLatin1(dictionary.toBase64())}}}});
        const Result r = runProgram({"process", "--mode", "fast", "--text", "えーと、とうきょう に いきますか"}, dir.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("東京に行きますか。\n"));
        QCOMPARE(server.generateRequests().size(), 1);
        const QString prompt = server.generateRequests().first().json()["contents"].toArray().at(0).toObject()["parts"]
                                   .toArray().at(0).toObject()["text"].toString();
        QVERIFY2(prompt.endsWith("\n\n東京にいきますか"), qPrintable(prompt));
        const QJsonObject after = stored(dir.path());
        QCOMPARE(after["UsageTracker.totalRequests"].toInt(), 1);
        QCOMPARE(after["UsageTracker.totalInputTokens"].toInt(), 100);
        QCOMPARE(after["UsageTracker.totalThinkingTokens"].toInt(), 5);
    }

    void instantModeMakesNoRequest()
    {
        FakeGeminiServer server;
        QVERIFY(server.listen());
        QTemporaryDir dir;
        seed(dir.path(), {{"gemini_api_key", "K"}, {"gemini_base_url", server.baseUrl()}, {"correction_mode", "quality"}});
        const Result r = runProgram({"process", "--mode", "instant", "--text", "かな"}, dir.path());
        QCOMPARE(r.out, QStringLiteral("かな？\n"));
        QCOMPARE(server.requests().size(), 0);
    }

    void fileInput()
    {
        QTemporaryDir dir;
        QFile f(dir.path() + "/in.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("一行目です\n二行目です\n");
        f.close();
        const Result r = runProgram({"process", "--file", f.fileName()}, dir.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("一行目です二行目です。\n"));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("fileContent");
        QTest::newRow("missing file") << QStringList{"process", "--file", "/nonexistent/x.txt"} << QByteArray();
        QTest::newRow("invalid UTF-8") << QStringList{"process", "--file", "@FILE@"} << QByteArray("\xff\xfe\x00", 3);
        QTest::newRow("unknown mode") << QStringList{"process", "--mode", "turbo", "--text", "x"} << QByteArray();
        QTest::newRow("no input") << QStringList{"process", "--mode", "fast"} << QByteArray();
        QTest::newRow("text and file") << QStringList{"process", "--text", "x", "--file", "y"} << QByteArray();
        QTest::newRow("dangling option") << QStringList{"process", "--text"} << QByteArray();
    }
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, fileContent);
        QTemporaryDir dir;
        const QString file = dir.path() + "/in.txt";
        if (!fileContent.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(fileContent);
        }
        args.replaceInStrings("@FILE@", file);
        const Result r = runProgram(args, dir.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.startsWith("velutanora: "));
    }
};

QTEST_GUILESS_MAIN(TestProcessCommand)
#include "tst_ProcessCommand.moc"
