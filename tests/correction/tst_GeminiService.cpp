#include "common/Clock.h"
#include "common/Logger.h"
#include "common/Task.h"
#include "correction/GeminiService.h"
#include "support/FakeGeminiServer.h"
#include "support/Outcome.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

const QString kKey = QStringLiteral("AIza/Secret+Key=1");
using Answer = ValueOutcome<GeminiResult>;

} // namespace

class TestGeminiService : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeGeminiServer> server;
    RecordingLogger log;
    SystemClock clock;
    std::unique_ptr<GeminiService> service;
    QString baseUrl;

    Answer run(Task<GeminiResult> task)
    {
        Answer outcome;
        spawn(captureOutcome(std::move(task), outcome));
        for (int i = 0; i < 3000 && !outcome.done; ++i)
            QTest::qWait(5);
        return outcome;
    }

    void verifyKeyNeverLogged(const Answer& o)
    {
        for (const QString& line : log.lines()) {
            QVERIFY2(!line.contains(QStringLiteral("Secret")), qPrintable(line));
        }
        QVERIFY(!o.description().contains(QStringLiteral("Secret")));
    }

private slots:
    void init()
    {
        server = std::make_unique<FakeGeminiServer>();
        QVERIFY(server->listen());
        baseUrl = server->baseUrl();
        log.clear();
        service = std::make_unique<GeminiService>(log, clock, [this] { return baseUrl; });
    }

    void textRequestOnTheWire()
    {
        server->enqueue(FakeReply::answer("  直した文。\n",
                                          R"({"promptTokenCount":12,"candidatesTokenCount":3,"totalTokenCount":15})"));
        const Answer o = run(service->rewrite("認識テキスト", kKey, "医師", true, CorrectionMode::Quality));
        QVERIFY(o.result);
        QCOMPARE(o.result->text, QStringLiteral("直した文。"));
        QCOMPARE(o.result->usage->promptTokenCount, std::optional<qint64>(12));

        QCOMPARE(server->requests().size(), 1);
        const RecordedRequest& r = server->requests().first();
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.path, QStringLiteral("/v1beta/models/gemini-2.5-flash:generateContent"));
        QCOMPARE(r.query.queryItemValue("key", QUrl::FullyDecoded), kKey);
        QCOMPARE(r.headers.value("content-type"), QByteArray("application/json"));
        QVERIFY(!r.headers.contains("authorization"));
        const QJsonObject body = r.json();
        QCOMPARE(r.parts().size(), 1);
        QVERIFY(r.text().endsWith("\n\n認識テキスト"));
        QVERIFY(r.text().contains("話者は医師です。"));
        QCOMPARE(body["generationConfig"].toObject()["temperature"].toDouble(), 0.0);
        QCOMPARE(body["generationConfig"].toObject()["thinkingConfig"].toObject()["thinkingBudget"].toInt(), -1);

        verifyKeyNeverLogged(o);
    }

    void audioRequestOnTheWire()
    {
        const QByteArray wav = QByteArray("RIFF") + QByteArray(1000, '\x7f');
        server->enqueue(FakeReply::answer("音声の結果"));
        const Answer o = run(service->transcribeAudio(wav, kKey, "", false, CorrectionMode::Fast));
        QVERIFY(o.result);
        QCOMPARE(o.result->text, QStringLiteral("音声の結果"));
        QVERIFY(!o.result->usage);
        const QJsonObject body = server->requests().first().json();
        const QJsonArray parts = server->requests().first().parts();
        QCOMPARE(parts.size(), 2);
        QCOMPARE(server->requests().first().audio(), wav);
        QCOMPARE(body["generationConfig"].toObject()["thinkingConfig"].toObject()["thinkingBudget"].toInt(), 0);
    }

    void missingKeyAndEmptyText()
    {
        const Answer text = run(service->rewrite("テキスト", "", "", false, CorrectionMode::Fast));
        QCOMPARE(text.description(), QStringLiteral("Gemini APIキーが設定されていません。"));
        const Answer audio = run(service->transcribeAudio("RIFF", "", "", false, CorrectionMode::Fast));
        QCOMPARE(audio.description(), QStringLiteral("Gemini APIキーが設定されていません。"));
        const Answer empty = run(service->rewrite("", kKey, "", false, CorrectionMode::Fast));
        QVERIFY(empty.result);
        QCOMPARE(empty.result->text, QString());
        service->warmConnection("");
        QTest::qWait(50);
        QCOMPARE(server->requests().size(), 0);
    }

    // Bodies of three-byte characters, so that a cut can fall inside one.
    void statusMapping_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("description");
        const QByteArray longBody = QByteArray("あ").repeated(250);
        const QString badRequest = "APIエラー: リクエストが不正です (400): " + QString("あ").repeated(200);
        const QString tooLarge = QStringLiteral("ネットワークエラー: 応答が大きすぎます (1 MB 超)");
        QTest::newRow("400 keeps 200 characters") << 400 << longBody << badRequest;
        QTest::newRow("401") << 401 << QByteArray("denied") << "APIエラー: APIキーが無効です (401)";
        QTest::newRow("403") << 403 << QByteArray("denied") << "APIエラー: APIキーが無効です (403)";
        QTest::newRow("429") << 429 << QByteArray("{\"error\":1}")
                             << "APIレート制限に達しました。しばらく待ってから再試行してください。";
        QTest::newRow("500") << 500 << QByteArray() << "APIエラー: サーバーエラー (500)";
        QTest::newRow("503") << 503 << QByteArray("busy") << "APIエラー: サーバーエラー (503)";
        QTest::newRow("404") << 404 << QByteArray("Not Found") << "APIエラー: エラー (404): Not Found";
        QTest::newRow("409") << 409 << QByteArray("conflict") << "APIエラー: エラー (409): conflict";
        QTest::newRow("invalid UTF-8") << 418 << QByteArray("\xff\xfe") << "APIエラー: エラー (418): (読み取り不可)";
        QTest::newRow("400 of 8 MB") << 400 << QByteArray("あ").repeated((8 << 20) / 3) << tooLarge;
        QTest::newRow("200 of 8 MB") << 200 << QByteArray("あ").repeated((8 << 20) / 3) << tooLarge;
        QTest::newRow("500 of 100 KB") << 500 << QByteArray("あ").repeated((100 << 10) / 3) << "APIエラー: サーバーエラー (500)";
        QTest::newRow("400 of 100 KB") << 400 << QByteArray("あ").repeated((100 << 10) / 3) << badRequest;
    }
    void statusMapping()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, description);
        server->enqueue(FakeReply::withStatus(status, body));
        const Answer o = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY(errorIs<GeminiError>(o.error) || body.size() > GeminiService::kMaxAnswerBytes);
        QCOMPARE(o.description(), description);
        for (const QString& line : log.lines())
            QVERIFY2(line.toUtf8().size() <= 2200, qPrintable(QString::number(line.toUtf8().size())));
        if (status == 400 && body.size() < 2000) // a short body is logged whole
            QVERIFY(log.contains("[GeminiService] HTTP 400: " + QString::fromUtf8(body)));
        if (body.size() > 2000 && body.size() < GeminiService::kMaxAnswerBytes)
            QVERIFY(log.contains(QStringLiteral("[GeminiService] HTTP %1: ").arg(status) + QString("あ").repeated(682)
                                 + QStringLiteral(" … (%1 bytes in all)").arg(body.size())));
        verifyKeyNeverLogged(o);
    }

    void redirectsAreNotFollowed_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("301") << 301;
        QTest::newRow("307") << 307;
        QTest::newRow("308") << 308;
    }
    void redirectsAreNotFollowed()
    {
        QFETCH(int, status);
        FakeGeminiServer elsewhere;
        QVERIFY(elsewhere.listen());
        const QByteArray location = elsewhere.baseUrl().toUtf8() + "/v1beta/models/gemini-2.5-flash:generateContent";
        server->enqueue(FakeReply::withStatus(status, "moved").withHeader("Location: " + location));
        const Answer o = run(service->transcribeAudio(QByteArray(1000, 'a'), kKey, "", false, CorrectionMode::Fast));
        QCOMPARE(o.description(), QStringLiteral("APIエラー: エラー (%1): moved").arg(status));
        QTest::qWait(50);
        QCOMPARE(elsewhere.requests().size(), 0);
    }

    void emptyAndMalformedAnswers()
    {
        server->enqueue(FakeReply::raw(R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"a","data":"b"}}]}}]})"));
        const Answer empty = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QCOMPARE(empty.description(), QStringLiteral("APIからの応答が空です。"));

        server->enqueue(FakeReply::raw("{not json"));
        const Answer malformed = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY(errorIs<DecodingError>(malformed.error));

        server->enqueue(FakeReply::raw(R"({"candidates":[{}]})"));
        const Answer missing = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY2(errorIs<DecodingError>(missing.error), "a candidate without content is a decoding error, not an empty one");
    }

    void transportFailures()
    {
        // Qt resends a request once on a fresh connection when one is reset: reset both.
        server->setDefaultReply(FakeReply::reset());
        const Answer reset = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY2(errorIs<TransportError>(reset.error), qPrintable(reset.description()));
        QCOMPARE(reset.description(), QStringLiteral("ネットワーク接続が切れました。"));
        verifyKeyNeverLogged(reset);

        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        const Answer refused = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY(errorIs<TransportError>(refused.error));
        QCOMPARE(refused.description(), QStringLiteral("サーバに接続できませんでした。"));

        baseUrl = QStringLiteral("not a url");
        const Answer invalid = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QCOMPARE(invalid.description(), QStringLiteral("無効なURLです。"));
    }

    void wholeTransferTimeout_data()
    {
        QTest::addColumn<bool>("bodyStarts");
        QTest::newRow("no answer") << false;
        QTest::newRow("body never ends") << true;
    }
    void wholeTransferTimeout()
    {
        QFETCH(bool, bodyStarts);
        ManualClock manual;
        GeminiService timed(log, manual, [this] { return baseUrl; });
        server->enqueue(bodyStarts ? FakeReply::bodyNeverEnds() : FakeReply::neverAnswer());
        Answer o;
        spawn(captureOutcome(timed.rewrite("テキスト", kKey, "", false, CorrectionMode::Fast), o));
        QTRY_COMPARE(server->requests().size(), 1);
        manual.advance(29.9);
        QTest::qWait(20);
        QVERIFY(!o.done);
        manual.advance(0.2);
        QTRY_VERIFY(o.done);
        QCOMPARE(o.description(), QStringLiteral("要求がタイムアウトになりました。"));
    }

    void cancellationAbortsTheRequest()
    {
        server->enqueue(FakeReply::neverAnswer());
        Answer o;
        TaskHandle handle = spawn(captureOutcome(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast), o));
        QTRY_COMPARE(server->requests().size(), 1);
        handle.cancel();
        QTRY_VERIFY(o.done);
        QCOMPARE(o.description(), QStringLiteral("キャンセルしました"));
    }

    void atMostTwoConnections()
    {
        server->setDefaultReply(FakeReply::answer("ok").delayed(150));
        Answer outcomes[5];
        for (Answer& o : outcomes)
            spawn(captureOutcome(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast), o));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(std::begin(outcomes), std::end(outcomes), [](const Answer& o) { return o.done; }), 10000);
        for (const Answer& o : outcomes)
            QVERIFY(o.result);
        QCOMPARE(server->generateRequests().size(), 5);
        QVERIFY2(server->maxConcurrentConnections() <= 2, qPrintable(QString::number(server->maxConcurrentConnections())));
    }

    void warmUp()
    {
        service->warmConnection(kKey);
        QTRY_VERIFY(log.contains("🌐 [GeminiService] connection warm-up complete"));
        QCOMPARE(server->requests().size(), 1);
        const RecordedRequest& r = server->requests().first();
        QCOMPARE(r.method, QByteArray("GET"));
        QCOMPARE(r.path, QStringLiteral("/v1beta/models/gemini-2.5-flash"));
        QCOMPARE(r.query.queryItemValue("key", QUrl::FullyDecoded), kKey);
    }

    void overTls()
    {
        QTemporaryDir dir;
        QSslCertificate certificate;
        QSslKey key;
        if (!FakeGeminiServer::makeCertificate(dir.path(), certificate, key))
            QSKIP("openssl could not make a certificate");
        FakeGeminiServer tls(certificate, key);
        QVERIFY(tls.listen());
        baseUrl = tls.baseUrl();
        QVERIFY(baseUrl.startsWith("https://"));

        // Not trusted yet: a TLS failure, reported without the address.
        const Answer untrusted = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY(errorIs<TransportError>(untrusted.error));
        verifyKeyNeverLogged(untrusted);

        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificate(certificate);
        QSslConfiguration::setDefaultConfiguration(config);
        GeminiService trusting(log, clock, [this] { return baseUrl; });
        tls.enqueue(FakeReply::answer("暗号化された答え"));
        const Answer o = run(trusting.rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY2(o.result, qPrintable(o.description()));
        QCOMPARE(o.result->text, QStringLiteral("暗号化された答え"));
        QCOMPARE(tls.generateRequests().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGeminiService)
#include "tst_GeminiService.moc"
