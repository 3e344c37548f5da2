#include "dictation/ProcessAndPaste.h"
#include "recording/AudioAccumulator.h"
#include "support/DictationRig.h"

#include <QJsonArray>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

// Records a dictation: the recogniser's final text (if any) over the given WAV, then a stop.
void record(DictationRig& rig, const QString& recognised, bool keepAudio, double seconds = 2.5)
{
    QVERIFY(!rig.run(rig.speech.startRecording(keepAudio, {})).error);
    if (!recognised.isEmpty())
        rig.recognizer.lastSession()->deliver(recognised, true);
    rig.advance(seconds);
    QVERIFY(!rig.run(rig.speech.stopRecording(true)).error);
}


} // namespace

Q_DECLARE_METATYPE(vel::test::FakeReply)

class TestProcessAndPaste : public QObject {
    Q_OBJECT
private slots:
    void routing_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("keepAudio");
        QTest::addColumn<QString>("expectedRequest"); // "", "text" or "audio"
        QTest::newRow("no key, fast") << "" << int(CorrectionMode::Fast) << true << "";
        QTest::newRow("key, instant, with WAV") << "k" << int(CorrectionMode::Instant) << true << "";
        QTest::newRow("key, fast, no WAV") << "k" << int(CorrectionMode::Fast) << false << "text";
        QTest::newRow("key, fast, WAV") << "k" << int(CorrectionMode::Fast) << true << "audio";
    }
    void routing()
    {
        QFETCH(QString, key);
        QFETCH(int, mode);
        QFETCH(bool, keepAudio);
        QFETCH(QString, expectedRequest);
        DictationRig rig(testdata("speech-ja/ja_1.wav"));
        rig.settings.setGeminiApiKey(key);
        rig.settings.setCorrectionMode(CorrectionMode(mode));
        rig.server.enqueue(FakeReply::answer("今日は晴れです", R"({"promptTokenCount":50,"candidatesTokenCount":5})"));
        auto target = FakeWorkspace::app(100);
        rig.dictation.workspaceMonitor().setTargetApp(target);
        QByteArray builtWav;
        QObject::connect(&rig.dictation, &Dictation::wavBuilt, [&](const QByteArray& w) { builtWav = w; });
        record(rig, "えーっと、きょうは晴れです", keepAudio);
        const DictationOutcome outcome = rig.process();
        QCOMPARE(outcome.kind, DictationOutcome::Kind::Pasted);

        const auto requests = rig.server.generateRequests();
        QCOMPARE(requests.size(), expectedRequest.isEmpty() ? 0 : 1);
        QCOMPARE(rig.history.entries().size(), 1);
        const RecordingEntry& entry = rig.history.entries().first();
        if (expectedRequest.isEmpty()) {
            QCOMPARE(entry.text, QStringLiteral("きょうは晴れです。"));
            QVERIFY(!entry.originalText);
            QCOMPARE(rig.usage.totalRequests(), 0);
        } else {
            QCOMPARE(entry.text, QStringLiteral("今日は晴れです。"));
            QCOMPARE(entry.originalText, std::optional<QString>(QStringLiteral("きょうは晴れです")));
            QCOMPARE(rig.usage.totalRequests(), 1);
            QCOMPARE(rig.usage.totalInputTokens(), 50);
            const QJsonArray parts = requests.first().parts();
            if (expectedRequest == "text") {
                QCOMPARE(parts.size(), 1);
                QVERIFY(parts.at(0).toObject()["text"].toString().endsWith("\n\nきょうは晴れです"));
            } else {
                QCOMPARE(parts.size(), 2);
                QCOMPARE(requests.first().audio(), builtWav);
            }
            QCOMPARE(rig.dictation.state().rewrittenText(), QStringLiteral("今日は晴れです。"));
        }
        QCOMPARE(rig.pasteboard.texts, QStringList{entry.text});
        QCOMPARE(rig.synthetic.count(kKeysymV), 1);
        QCOMPARE(rig.dictation.state().statusMessage(), QStringLiteral("📋 ペーストしました"));
        QCOMPARE(rig.panel.calls, QStringList{"showOutcome 📋 ペーストしました"});
        QVERIFY(!rig.dictation.state().isProcessing());
        QVERIFY(!rig.dictation.state().isRewriting());
        QVERIFY(!rig.speech.geminiAudioAccumulator());
        QVERIFY2(!rig.dictation.workspaceMonitor().targetApp(), "outside continuous mode the target is cleared");
        QCOMPARE(target->activations, 1);
    }

    // When Gemini gives nothing usable the local text is pasted; with no local text, nothing is.
    void fallbacks_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("recognised"); // empty: the audio alone goes to Gemini
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("failure");
        QTest::newRow("server error") << FakeReply::withStatus(500, "boom") << "今日は晴れです" << "今日は晴れです。"
                                      << "APIエラー: Gemini のサーバーで障害が起きています（500）。しばらくしてから再試行してください";
        QTest::newRow("empty answer") << FakeReply::answer("  \n ") << "今日は晴れです" << "今日は晴れです。" << "";
        QTest::newRow("an answer far longer than the text")
            << FakeReply::answer(QString("長い").repeated(200)) << "今日は晴れです" << "今日は晴れです。"
            << "応答が元の文（7文字）に比べて長すぎます（401文字）";
        QTest::newRow("a cut-off answer")
            << FakeReply::answer("今日は") << QString("今日は晴れです").repeated(6) << QString("今日は晴れです").repeated(6) + "。"
            << "応答が元の文（42文字）に比べて短すぎます（4文字）。途中で切れた可能性があります";
        QTest::newRow("audio only, rate limited")
            << FakeReply::withStatus(429, "") << "" << ""
            << "APIレート制限に達しました。しばらく待ってから再試行してください。";
    }
    void fallbacks()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QString, recognised);
        QFETCH(QString, pasted);
        QFETCH(QString, failure);
        DictationRig rig(testdata("speech-ja/ja_1.wav"));
        rig.useGemini();
        rig.server.enqueue(reply);
        record(rig, recognised, recognised.isEmpty());
        const DictationOutcome outcome = rig.process();
        QCOMPARE(rig.server.generateRequests().size(), 1);
        QCOMPARE(rig.pasteboard.texts, pasted.isEmpty() ? QStringList() : QStringList{pasted});
        QCOMPARE(outcome.correctionFailure, failure.isEmpty() ? QString() : "⚠️ Gemini: " + failure);
        QCOMPARE(rig.dictation.state().statusMessage(),
                 pasted.isEmpty() ? "⚠️ 失敗: " + failure + "。録音を保存しました（履歴から再試行できます）" : QStringLiteral("📋 ペーストしました"));
        // Nothing pasted is never reported as pasted: the panel shows why.
        QCOMPARE(outcome.kind, pasted.isEmpty() ? DictationOutcome::Kind::Failed : DictationOutcome::Kind::Pasted);
        QCOMPARE(rig.panel.calls, QStringList{(pasted.isEmpty() ? "showFailure " : "showOutcome ") + rig.dictation.state().statusMessage()});
        QCOMPARE(rig.history.entries().size(), 1); // the words, or the recording kept for a retry
        QCOMPARE(rig.history.entries().first().isUntranscribed(), pasted.isEmpty());
        if (!pasted.isEmpty())
            QVERIFY(!rig.history.entries().first().originalText);
        QCOMPARE(rig.usage.totalRequests(), 0);
    }

    // The recording bounds an answer to it; the local text may have missed most of it.
    void answersTheRecordingCannotHold()
    {
        QVERIFY(implausibleAnswer(QString("あ").repeated(100), "", 10.0).isEmpty());
        QVERIFY(implausibleAnswer(QString("あ").repeated(150), "あ", 10.0).isEmpty());
        QCOMPARE(implausibleAnswer(QString("あ").repeated(400), "", 10.0), "応答が録音の長さ（10.0秒）に比べて長すぎます（400文字）");
    }

    // No words and no paste, but nothing lost: a recording that Gemini could not hear, or whose
    // local recogniser failed, is kept with an entry in the history; its retry gives the words,
    // copied (from the history), in the entry's place, and the recording goes.
    void aRecordingWithoutWordsIsKeptForARetry_data()
    {
        QTest::addColumn<bool>("gemini");
        QTest::newRow("Gemini failed, no local text") << true;
        QTest::newRow("the local recogniser failed, no Gemini") << false;
    }
    void aRecordingWithoutWordsIsKeptForARetry()
    {
        QFETCH(bool, gemini);
        DictationRig rig(testdata("speech-ja/ja_1.wav"));
        if (gemini) {
            rig.useGemini();
            rig.server.enqueue(FakeReply::withStatus(503, ""));
        }
        QVERIFY(!rig.run(rig.speech.startRecording(gemini, {})).error);
        rig.recognizer.lastSession()->endResults(std::make_exception_ptr(Error(QStringLiteral("エンジンが終了しました"))));
        rig.advance(2.5);
        QVERIFY(!rig.run(rig.speech.stopRecording(!gemini)).error);
        const DictationOutcome outcome = rig.process();
        QCOMPARE(outcome.kind, DictationOutcome::Kind::Failed);
        QVERIFY(rig.pasteboard.texts.isEmpty());
        QCOMPARE(rig.history.entries().size(), 1);
        const RecordingEntry kept = rig.history.entries().first();
        QVERIFY(kept.isUntranscribed());
        QCOMPARE(kept.id, outcome.retryEntry);
        QVERIFY(kept.untranscribed.contains(gemini ? "障害が起きています（503）" : "エンジンが終了しました"));
        QVERIFY(rig.kept.read(kept.keptAudio));

        if (gemini)
            rig.server.enqueue(FakeReply::answer("再試行で届いた"));
        rig.recognizer.onSession = [](ScriptedSession& s) {
            s.deliver("再試行で届いた", true);
            s.endResults();
        };
        rig.dictation.retryKept(kept.id, false);
        rig.advance(1.0);
        QCOMPARE(rig.history.entries().size(), 1);
        QCOMPARE(rig.history.entries().first().text, QStringLiteral("再試行で届いた。"));
        QVERIFY(!rig.history.entries().first().isUntranscribed());
        QVERIFY(!rig.kept.read(kept.keptAudio));
        QCOMPARE(rig.pasteboard.texts, QStringList{"再試行で届いた。"});
        QCOMPARE(rig.synthetic.count(kKeysymV), 0); // from the history: copied, not pasted
    }

    void nothingToPaste_data()
    {
        QTest::addColumn<QString>("recognised");
        QTest::newRow("nothing recognised") << "";
        QTest::newRow("only fillers") << "えーっと、あのー";
    }
    void nothingToPaste()
    {
        QFETCH(QString, recognised);
        DictationRig rig;
        record(rig, recognised, false);
        const DictationOutcome outcome = rig.process();
        QVERIFY(rig.pasteboard.texts.isEmpty());
        QVERIFY(rig.history.entries().isEmpty());
        QVERIFY(!rig.dictation.state().isProcessing());
        // Nothing to paste is neither a paste nor a cancel: the panel goes, nothing claims success.
        QCOMPARE(outcome.kind, DictationOutcome::Kind::NothingHeard);
        QCOMPARE(rig.panel.calls, QStringList{"hideImmediately"});
        QVERIFY(!rig.dictation.state().wasCancelled());
        QVERIFY(!rig.dictation.state().isCompletionVisible());
    }

    void completionMarkLastsTwoSeconds()
    {
        DictationRig rig;
        record(rig, "一回目", false);
        rig.process();
        QVERIFY(rig.dictation.state().isCompletionVisible());
        rig.advance(1.5);
        // A second run 1.5 s later: the first run's timer must not hide the second mark early.
        record(rig, "二回目", false);
        rig.process();
        QVERIFY(rig.dictation.state().isCompletionVisible());
        rig.advance(1.9);
        QVERIFY(rig.dictation.state().isCompletionVisible());
        rig.advance(0.2);
        QVERIFY(!rig.dictation.state().isCompletionVisible());
        QCOMPARE(rig.history.entries().first().text, QStringLiteral("二回目。"));
    }

    void abandonedResultIsKeptButNotPasted()
    {
        DictationRig rig;
        rig.useGemini();
        rig.server.enqueue(FakeReply::neverAnswer());
        record(rig, "取り消す文", false);
        ValueOutcome<DictationOutcome> o;
        TaskHandle task = spawn(captureOutcome(rig.dictation.process(), o));
        QTRY_COMPARE(rig.server.generateRequests().size(), 1);
        task.cancel();
        QTRY_VERIFY(o.done);
        rig.settle();
        QVERIFY(rig.pasteboard.texts.isEmpty());
        // Gemini never answered: the local text is what is kept.
        QCOMPARE(rig.history.entries().size(), 1);
        QCOMPARE(rig.history.entries().first().text, QStringLiteral("取り消す文。"));
        QVERIFY(!rig.history.entries().first().originalText);
        QVERIFY(!rig.dictation.state().isProcessing());
        QVERIFY(!rig.dictation.state().isRewriting());
        QCOMPARE(o.result->kind, DictationOutcome::Kind::Abandoned);
    }
};

QTEST_GUILESS_MAIN(TestProcessAndPaste)
#include "tst_ProcessAndPaste.moc"
