#include "recording/WavFile.h"
#include "settings/RecordingHistory.h"
#include "settings/KeyValueStore.h"
#include "support/Files.h"
#include "support/FakeGeminiServer.h"
#include "support/ProgramRunner.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace vel;
using namespace vel::test;

namespace {
using Result = ProgramResult;

void seed(const QString& configHome, const QJsonObject& object) { QVERIFY(seedStore(configHome, object)); }
QJsonObject stored(const QString& configHome) { return storedObject(configHome); }


} // namespace

class TestTranscribeCommand : public QObject {
    Q_OBJECT
private slots:
    void continuousModeGivesOneResultPerUtterance()
    {
        FakeGeminiServer server;
        QVERIFY(server.listen());
        server.enqueue(FakeReply::answer("今日は晴れです", R"({"promptTokenCount":40,"candidatesTokenCount":6})"));
        server.enqueue(FakeReply::answer("明日は雨ですよね", R"({"promptTokenCount":44,"candidatesTokenCount":7})"));
        QTemporaryDir dir;
        seed(dir.path(), {{"gemini_api_key", "KEY-9"}, {"gemini_base_url", server.baseUrl()}});
        const QString save = dir.path() + "/sent.wav";
        const Result r = runProgram({"transcribe", "--continuous", "--save-wav", save, fixture("two_utterances_4s_pause.wav")},
                                    dir.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("今日は晴れです。\n明日は雨ですよね？\n"));
        QVERIFY(!r.err.contains("KEY-9"));

        const auto requests = server.generateRequests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.at(0).audio(), readFile(save));
        QCOMPARE(requests.at(1).audio(), readFile(dir.path() + "/sent-2.wav"));
        for (const QByteArray& wav : {readFile(save), readFile(dir.path() + "/sent-2.wav")}) {
            const WavFile parsed = WavFile::parse(wav);
            QCOMPARE(parsed.format, AudioFormat::int16Mono16k());
            QVERIFY(parsed.durationSeconds() > 1.0 && parsed.durationSeconds() < 2.5);
        }

        const QJsonObject after = stored(dir.path());
        QCOMPARE(after["UsageTracker.totalRequests"].toInt(), 2);
        QCOMPARE(after["UsageTracker.totalInputTokens"].toInt(), 84);
        const auto history = RecordingHistory::decode(*KeyValueStore::decodeData(after["recording_history"]));
        QVERIFY(history);
        QCOMPARE(history->size(), 2);
        QCOMPARE(history->at(0).text, QStringLiteral("明日は雨ですよね？"));
        QCOMPARE(history->at(1).text, QStringLiteral("今日は晴れです。"));
        QVERIFY2(!after.contains("continuous_mode"), "the run's own mode is not stored");
    }

    // Long files run on simulated time: a real-time run would take minutes.
    void longFiles_data()
    {
        QTest::addColumn<bool>("toneOnly"); // else sound throughout
        QTest::addColumn<double>("minSent");
        QTest::addColumn<double>("maxSent");
        QTest::newRow("ten minutes, a 2 s tone in the middle: the silence around it is cut") << true << 2.0 << 3.0;
        QTest::newRow("eight minutes of sound: only the first seven are sent") << false << 420.0 << 420.0;
    }
    void longFiles()
    {
        QFETCH(bool, toneOnly);
        QFETCH(double, minSent);
        QFETCH(double, maxSent);
        QTemporaryDir dir;
        // Stereo float at 8 kHz, resampled and mixed down to 16 kHz mono on the way.
        const AudioFormat f{8000, 2, SampleType::Float32};
        const int seconds = toneOnly ? 600 : 480;
        QByteArray samples(8000 * seconds * f.bytesPerFrame(), '\0');
        float* p = reinterpret_cast<float*>(samples.data());
        for (int i = toneOnly ? 8000 * 300 : 0; i < (toneOnly ? 8000 * 302 : 8000 * seconds); ++i)
            p[2 * i] = p[2 * i + 1] = 0.3f * static_cast<float>(std::sin(i * 0.2));
        const QString wav = writeFile(dir.path() + "/long.wav", WavFile::encode(f, samples));
        FakeGeminiServer server;
        QVERIFY(server.listen());
        server.enqueue(FakeReply::answer("長い録音"));
        seed(dir.path(), {{"gemini_api_key", "K"}, {"gemini_base_url", server.baseUrl()}});
        const Result r = runProgram({"transcribe", wav}, dir.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("長い録音。\n"));
        QCOMPARE(r.err.contains(QStringLiteral("（Geminiには最初の7分だけを送りました）")), !toneOnly);
        const WavFile sent = WavFile::parse(server.generateRequests().first().audio());
        QVERIFY2(sent.durationSeconds() >= minSent && sent.durationSeconds() <= maxSent,
                 qPrintable(QString::number(sent.durationSeconds())));
    }

    void localRecogniserGivesTheTextWithoutGemini_data()
    {
        QTest::addColumn<bool>("leakChecked");
        QTest::newRow("plain") << false;
        QTest::newRow("under LeakSanitizer, with Gemini") << true;
    }
    void localRecogniserGivesTheTextWithoutGemini()
    {
        QFETCH(bool, leakChecked);
        QMap<QString, QString> environment;
        if (leakChecked) {
#ifdef LEAK_SANITIZER_RUNTIME
            environment.insert("LD_PRELOAD", QStringLiteral(LEAK_SANITIZER_RUNTIME));
            environment.insert("LSAN_OPTIONS", "exitcode=23");
#else
            QSKIP("no LeakSanitizer runtime (liblsan0) in this build");
#endif
        }
        QTemporaryDir dir;
        const QString model = dir.path() + "/model";
        QVERIFY(!writeFile(model + "/stub-model", {}).isEmpty());
        QVERIFY(!writeFile(model + "/script.txt", "0.8 partial きょう は\n1.6 final えーっと 今日 は 晴れ です\n").isEmpty());
        FakeGeminiServer server;
        QVERIFY(server.listen());
        server.enqueue(FakeReply::answer("今日は晴れです"));
        QJsonObject settings{{"recognizer_model_dir", model}, {"correction_mode", "instant"}};
        if (leakChecked) {
            settings.insert("gemini_api_key", "K");
            settings.insert("gemini_base_url", server.baseUrl());
            settings.insert("correction_mode", "fast");
        }
        seed(dir.path(), settings);
        const Result r =
            runProgram({"transcribe", fixture("ja_1.wav")}, dir.path(), QStringLiteral(VOSK_STUB_LIBRARY), environment);
        QVERIFY2(!r.err.contains("LeakSanitizer"), qPrintable(r.err.right(3000)));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("今日は晴れです。\n"));
        QVERIFY(r.err.contains("🗣️ [Vosk] model loaded"));
        QCOMPARE(server.generateRequests().size(), leakChecked ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestTranscribeCommand)
#include "tst_TranscribeCommand.moc"
