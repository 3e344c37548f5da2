#include "support/FakeGeminiServer.h"
#include "support/ProgramRunner.h"

#include <QJsonObject>
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
    // With a key and a server: only the local rules run in instant mode.
    void localExamples_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        // The rules themselves are the text processor's; these show the command applies them.
        QTest::newRow("filler and self-correction") << QStringList{"--text", "えーっと、明日、いや、明後日に行きます"} << "明後日に行きます。";
        QTest::newRow("only fillers") << QStringList{"--text", "えーっと、あのー、"} << "";
        QTest::newRow("a file") << QStringList{"--file", "@FILE@"} << "一行目です二行目です。";
    }
    void localExamples()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        FakeGeminiServer server;
        QVERIFY(server.listen());
        QTemporaryDir dir;
        seed(dir.path(), {{"gemini_api_key", "K"}, {"gemini_base_url", server.baseUrl()}, {"correction_mode", "quality"}});
        args.replaceInStrings("@FILE@", writeFile(dir.path() + "/in.txt", "一行目です\n二行目です\n"));
        const Result r = runProgram(QStringList{"process", "--mode", "instant"} + args, dir.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, expected.isEmpty() ? QString() : expected + "\n");
        QCOMPARE(server.requests().size(), 0);
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
        const QString prompt = server.generateRequests().first().text();
        QVERIFY2(prompt.endsWith("\n\n東京にいきますか"), qPrintable(prompt));
        const QJsonObject after = stored(dir.path());
        QCOMPARE(after["UsageTracker.totalRequests"].toInt(), 1);
        QCOMPARE(after["UsageTracker.totalInputTokens"].toInt(), 100);
        QCOMPARE(after["UsageTracker.totalThinkingTokens"].toInt(), 5);
    }
};

QTEST_GUILESS_MAIN(TestProcessCommand)
#include "tst_ProcessCommand.moc"
