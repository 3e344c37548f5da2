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

Q_DECLARE_METATYPE(vel::test::FakeReply)

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

    Answer run(Task<GeminiResult> task) { return awaited(std::move(task), 15000); }

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
        QCOMPARE(r.headers.value("x-goog-api-key"), kKey.toLatin1());
        QVERIFY(r.query.isEmpty()); // proxies and logs keep URLs
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
        const Answer broken = run(service->rewrite("テキスト", "AIza\r\nX-Other: 1", "", false, CorrectionMode::Fast));
        QCOMPARE(broken.description(), QStringLiteral("APIエラー: APIキーに使えない文字が含まれています"));
        const Answer empty = run(service->rewrite("", kKey, "", false, CorrectionMode::Fast));
        QVERIFY(empty.result);
        QCOMPARE(empty.result->text, QString());
        service->warmConnection("");
        QTest::qWait(50);
        QCOMPARE(server->requests().size(), 0);
    }

    // What each answer of the server becomes. Bodies of three-byte characters, so that a cut can
    // fall inside one.
    void answers_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("description");
        const QByteArray longBody = QByteArray("あ").repeated(250);
        const QString badRequest = "APIエラー: Gemini がリクエストを受け付けませんでした（400）";
        const QString tooLarge = QStringLiteral("ネットワークエラー: 応答が大きすぎます (1 MB 超)");
        const auto status = [](int code, const QByteArray& body) { return FakeReply::withStatus(code, body); };
        // Google's words never reach the screen: a sentence of ours says what it means.
        QTest::newRow("a mistyped key") << status(400, R"({"error":{"code":400,"message":"API key not valid. Please pass a valid API key.","status":"INVALID_ARGUMENT","details":[{"@type":"type.googleapis.com/google.rpc.ErrorInfo","reason":"API_KEY_INVALID"}]}})")
                                        << "APIエラー: APIキーが無効です（400）。設定の「Gemini APIキー」を確かめてください";
        QTest::newRow("400 of raw text") << status(400, longBody) << badRequest;
        QTest::newRow("401") << status(401, "denied") << "APIエラー: APIキーが無効です（401）。設定の「Gemini APIキー」を確かめてください";
        QTest::newRow("a region without the API")
            << status(400, R"({"error":{"code":400,"message":"User location is not supported","status":"FAILED_PRECONDITION"}})")
            << "APIエラー: この地域やアカウントでは Gemini API を使えません（400）";
        QTest::newRow("429") << status(429, "{\"error\":1}") << "APIレート制限に達しました。しばらく待ってから再試行してください。";
        QTest::newRow("500") << status(500, {}) << "APIエラー: Gemini のサーバーで障害が起きています（500）。しばらくしてから再試行してください";
        QTest::newRow("404") << status(404, "Not Found") << "APIエラー: Gemini のモデルが見つかりません（404）";
        QTest::newRow("invalid UTF-8") << status(418, "\xff\xfe") << "APIエラー: Gemini から予期しない応答がありました（418）";
        QTest::newRow("400 of 8 MB") << status(400, QByteArray("あ").repeated((8 << 20) / 3)) << tooLarge;
        QTest::newRow("200 of 8 MB") << status(200, QByteArray("あ").repeated((8 << 20) / 3)) << tooLarge;
        QTest::newRow("400 of 100 KB") << status(400, QByteArray("あ").repeated((100 << 10) / 3)) << badRequest;
        QTest::newRow("a redirect is not followed")
            << status(307, "moved").withHeader("Location: http://127.0.0.1:9/v1beta/models/gemini-2.5-flash:generateContent")
            << "APIエラー: Gemini から予期しない応答がありました（307）";
        QTest::newRow("no text in the answer")
            << FakeReply::raw(R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"a","data":"b"}}]}}]})")
            << "APIからの応答が空です。";
        QTest::newRow("cut off at the output limit")
            << FakeReply::raw(R"({"candidates":[{"finishReason":"MAX_TOKENS","content":{"parts":[{"text":"途中"}]}}]})")
            << "APIエラー: 応答が出力の上限で途中までしかありません";
        QTest::newRow("a candidate without content is malformed, not empty")
            << FakeReply::raw(R"({"candidates":[{}]})") << DecodingError(DecodingError::Kind::Missing, {}).description();
        // Qt resends a request once on a fresh connection when one is reset: every one is.
        QTest::newRow("connection reset") << FakeReply::reset() << "ネットワーク接続が切れました。";
    }
    void answers()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QString, description);
        server->setDefaultReply(reply);
        const Answer o = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QCOMPARE(o.description(), description);
        for (const QString& line : log.lines())
            QVERIFY2(line.toUtf8().size() <= 2200, qPrintable(QString::number(line.toUtf8().size())));
        if (reply.status == 400 && reply.body.size() < 2000) // a short body is logged whole
            QVERIFY(log.contains("[GeminiService] HTTP 400: " + QString::fromUtf8(reply.body)));
        if (reply.body.size() > 2000 && reply.body.size() < GeminiService::kMaxAnswerBytes)
            QVERIFY(log.contains(QStringLiteral("[GeminiService] HTTP %1: ").arg(reply.status) + QString("あ").repeated(682)
                                 + QStringLiteral(" … (%1 bytes in all)").arg(reply.body.size())));
        verifyKeyNeverLogged(o);
    }

    void transportFailures()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        const Answer refused = run(service->rewrite("テキスト", kKey, "", false, CorrectionMode::Fast));
        QVERIFY(errorIs<TransportError>(refused.error));
        QCOMPARE(refused.description(), QStringLiteral("サーバーに接続できませんでした。"));

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
        QCOMPARE(o.description(), QStringLiteral("サーバーからの応答が時間内にありませんでした。"));
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

    void warmUp()
    {
        service->warmConnection(kKey);
        QTRY_VERIFY(log.contains("🌐 [GeminiService] connection warm-up complete"));
        QCOMPARE(server->requests().size(), 1);
        const RecordedRequest& r = server->requests().first();
        QCOMPARE(r.method, QByteArray("GET"));
        QCOMPARE(r.path, QStringLiteral("/v1beta/models/gemini-2.5-flash"));
        QCOMPARE(r.headers.value("x-goog-api-key"), kKey.toLatin1());
    }

    // The settings' key check asks for the model's description: no tokens, a sentence when refused.
    void aKeyIsChecked()
    {
        server->setOtherReply(FakeReply::withStatus(200, "{}"));
        QCOMPARE(awaited(service->checkKey(kKey), 15000).result, std::optional<QString>(QString()));
        QCOMPARE(server->requests().last().headers.value("x-goog-api-key"), kKey.toLatin1());
        server->setOtherReply(FakeReply::withStatus(400, R"({"error":{"status":"INVALID_ARGUMENT","details":[{"reason":"API_KEY_INVALID"}]}})"));
        QCOMPARE(awaited(service->checkKey("wrong"), 15000).result,
                 std::optional<QString>(QStringLiteral("APIキーが無効です（400）。設定の「Gemini APIキー」を確かめてください")));
        QCOMPARE(server->generateRequests().size(), 0);
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
