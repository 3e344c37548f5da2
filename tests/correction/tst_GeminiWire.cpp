#include "correction/GeminiWire.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vel;

class TestGeminiWire : public QObject {
    Q_OBJECT
private slots:

    void audioBody()
    {
        const QByteArray wav("RIFF\x00\x01\x02\xff", 8);
        const QByteArray raw = buildAudioRequestBody(wav, "言って\"\\\n", -1);
        QJsonParseError error{};
        const QJsonObject body = QJsonDocument::fromJson(raw, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject expected{
            {"contents", QJsonArray{QJsonObject{{"parts",
                                                 QJsonArray{QJsonObject{{"inlineData", QJsonObject{{"mimeType", "audio/wav"},
                                                                                                   {"data", QString::fromLatin1(wav.toBase64())}}}},
                                                            QJsonObject{{"text", "言って\"\\\n"}}}}}}},
            {"generationConfig", QJsonObject{{"temperature", 0.0}, {"thinkingConfig", QJsonObject{{"thinkingBudget", -1}}}}},
        };
        QCOMPARE(body, expected);
        QVERIFY2(!raw.contains("null"), "absent optionals are omitted, never null");
        // The body's own base64, for every remainder of three.
        for (int length = 0; length < 7; ++length) {
            const QByteArray bytes = QByteArray("\xfb\xff\x00\x10\x83\xbf\x7f", 7).left(length);
            QVERIFY(buildAudioRequestBody(bytes, "p", 0).contains("\"data\":\"" + bytes.toBase64() + "\""));
        }
        QVERIFY(!raw.contains('\n'));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("hasAnswer");
        QTest::addColumn<QString>("answer");
        QTest::newRow("empty candidates") << QByteArray(R"({"candidates":[]})") << false << "";
        QTest::newRow("inline data then text")
            << QByteArray(R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"a","data":"b"}},{"text":" 結果\n"}]}}]})")
            << true << " 結果\n";
        QTest::newRow("only first candidate counts")
            << QByteArray(R"({"candidates":[{"content":{"parts":[]}},{"content":{"parts":[{"text":"x"}]}}]})") << false << "";
        QTest::newRow("null text is absent")
            << QByteArray(R"({"candidates":[{"content":{"parts":[{"text":null},{"text":"y"}]}}]})") << true << "y";
        QTest::newRow("every text part, in order")
            << QByteArray(R"({"candidates":[{"content":{"parts":[{"text":"一文目。"},{"text":"二文目。"}]}}]})") << true
            << "一文目。二文目。";
        QTest::newRow("unknown keys ignored")
            << QByteArray(R"({"modelVersion":"v","candidates":[{"finishReason":"STOP","content":{"role":"model","parts":[{"text":"z"}]}}]})")
            << true << "z";
    }
    void answers()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, hasAnswer);
        QFETCH(QString, answer);
        const auto text = GeminiResponse::fromJson(json).answerText();
        QCOMPARE(text.has_value(), hasAnswer);
        if (hasAnswer)
            QCOMPARE(*text, answer);
    }

    void decodingFailures_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("kind");
        const int missing = int(DecodingError::Kind::Missing);
        const int malformed = int(DecodingError::Kind::Malformed);
        QTest::newRow("candidate without content") << QByteArray(R"({"candidates":[{}]})") << missing;
        QTest::newRow("content without parts") << QByteArray(R"({"candidates":[{"content":{}}]})") << missing;
        QTest::newRow("inline data without mime type")
            << QByteArray(R"({"candidates":[{"content":{"parts":[{"inlineData":{"data":"x"}}]}}]})") << missing;
        QTest::newRow("not JSON") << QByteArray("<html>") << malformed;
        QTest::newRow("an array") << QByteArray("[]") << malformed;
        QTest::newRow("candidates a string") << QByteArray(R"({"candidates":"x"})") << malformed;
        QTest::newRow("text a number") << QByteArray(R"({"candidates":[{"content":{"parts":[{"text":1}]}}]})") << malformed;
        QTest::newRow("fractional token count") << QByteArray(R"({"usageMetadata":{"promptTokenCount":1.5}})") << malformed;
        QTest::newRow("truncated") << QByteArray(R"({"candidates":[)") << malformed;
    }
    void decodingFailures()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, kind);
        try {
            (void)GeminiResponse::fromJson(json);
            QFAIL("decoding should fail");
        } catch (const DecodingError& e) {
            QCOMPARE(int(e.kind()), kind);
            QVERIFY(!e.description().isEmpty());
        }
    }

};

QTEST_GUILESS_MAIN(TestGeminiWire)
#include "tst_GeminiWire.moc"
