#include "support/DictationRig.h"
#include "support/Tones.h"

#include <QTest>

using namespace vel;
using namespace vel::test;

// The controller every trigger calls: start, stop, cancel and the continuous loop.
class TestDictation : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void cancelWhileRecording()
    {
        DictationRig rig;
        rig.settings.setContinuousMode(ContinuousMode::Auto); // a cancel leaves it too
        rig.dictation.toggle(nullptr);
        rig.advance(0.5);
        QVERIFY(rig.dictation.state().isContinuous());
        rig.dictation.cancel();
        QVERIFY(!rig.speech.isRecording());
        QVERIFY(rig.dictation.state().wasCancelled());
        QVERIFY(!rig.dictation.state().isContinuous());
        QVERIFY(!rig.dictation.workspaceMonitor().targetApp());
        rig.advance(10.0);
        QVERIFY(rig.pasteboard.texts.isEmpty());
        QVERIFY(!rig.speech.isRecording());
    }

    void secondStartDuringProcessingAbandonsIt()
    {
        DictationRig rig;
        rig.useGemini();
        rig.server.enqueue(FakeReply::neverAnswer());
        rig.dictation.toggle(nullptr);
        rig.advance(0.5);
        rig.recognizer.lastSession()->deliver("最初", true);
        rig.dictation.toggle(nullptr); // stop: Gemini never answers
        QTRY_COMPARE(rig.server.generateRequests().size(), 1);
        QVERIFY(rig.dictation.state().isRewriting());
        rig.dictation.toggle(nullptr); // start again
        rig.advance(0.5);
        QVERIFY(rig.speech.isRecording());
        QVERIFY(rig.pasteboard.texts.isEmpty());
        QVERIFY(!rig.dictation.state().isRewriting());
    }

    void continuousUtteranceWithoutAnythingRestartsAtOnce()
    {
        DictationRig rig; // digital silence: no speech, no text
        rig.settings.setContinuousMode(ContinuousMode::PasteOnly);
        rig.dictation.toggle(nullptr);
        rig.advance(0.2);
        // Only a volatile text that is later withdrawn would end an utterance here; simulate
        // the silence callback directly.
        emit rig.speech.silenceDetected();
        rig.advance(0.05);
        QVERIFY(rig.speech.isRecording());
        QVERIFY(rig.pasteboard.texts.isEmpty());
    }

    void continuousUtteranceWithSpeechButNoLocalTextIsProcessed()
    {
        DictationRig rig(writeWav(dir.path(), "tone.wav", tonePcm(1.5, 0.3, 300) + silencePcm(10)));
        rig.recognizer.available = false;
        rig.useGemini();
        rig.server.enqueue(FakeReply::answer("音声だけで届いた"));
        rig.settings.setContinuousMode(ContinuousMode::PasteOnly);
        rig.dictation.toggle(nullptr);
        rig.advance(1.5 + 3.5);
        QCOMPARE(rig.server.generateRequests().size(), 1);
        QCOMPARE(rig.pasteboard.texts, QStringList{"音声だけで届いた。"});
        QCOMPARE(rig.synthetic.count(kKeysymReturn), 0);
    }

    // The start key ends continuous auto mode; Return follows what it pasted, never nothing.
    void manualStopInContinuousAutoSendsReturnOnlyAfterAPaste_data()
    {
        QTest::addColumn<QString>("lastWords");
        QTest::addColumn<QStringList>("pasted");
        QTest::newRow("words since the last utterance") << "二つ目" << QStringList{"一つ目。", "二つ目。"};
        QTest::newRow("nothing since") << "" << QStringList{"一つ目。"};
    }

    void manualStopInContinuousAutoSendsReturnOnlyAfterAPaste()
    {
        QFETCH(QString, lastWords);
        QFETCH(QStringList, pasted);
        DictationRig rig(writeWav(dir.path(), "tone.wav", tonePcm(1.5, 0.3, 300) + silencePcm(10)));
        rig.settings.setContinuousMode(ContinuousMode::Auto);
        rig.dictation.toggle(FakeWorkspace::app(300));
        rig.advance(0.3);
        rig.recognizer.lastSession()->deliver("一つ目", true);
        rig.advance(1.5 + 3.0 + 1.5); // the silence ends it: pasted, Return, listening again
        QVERIFY(rig.speech.isRecording());
        if (!lastWords.isEmpty())
            rig.recognizer.lastSession()->deliver(lastWords, true);
        rig.dictation.toggle(nullptr);
        rig.advance(2.0);
        QCOMPARE(rig.pasteboard.texts, pasted);
        QCOMPARE(rig.synthetic.count(kKeysymReturn), pasted.size());
        QVERIFY(!rig.speech.isRecording());
        QVERIFY(!rig.dictation.state().isContinuous());
    }

    // Continuous auto mode as a user lives it: utterance after utterance into the same target,
    // each pasted and sent, then an ordinary dictation. The target is held as often after each
    // turn as before (a reference dropped once too often freed it by the third turn).
    void continuousModeRunsTurnAfterTurn()
    {
        DictationRig rig;
        rig.settings.setContinuousMode(ContinuousMode::Auto);
        rig.settings.setContinuousSilenceSeconds(1.0);
        const ApplicationRef target = FakeWorkspace::app(300);
        rig.dictation.toggle(target);
        rig.advance(0.3);
        const long held = target.use_count();
        const QStringList words{"一つ目", "二つ目", "三つ目", "四つ目", "五つ目", "六つ目", "七つ目"};
        for (int turn = 0; turn < words.size(); ++turn) {
            rig.recognizer.lastSession()->deliver(words[turn], true);
            rig.advance(3.0); // the silence ends it: pasted, Return, listening again
            QCOMPARE(rig.pasteboard.texts.size(), turn + 1);
            QCOMPARE(rig.synthetic.count(kKeysymReturn), turn + 1);
            QVERIFY(rig.speech.isRecording());
            QCOMPARE(target.use_count(), held + rig.synthetic.strokes.size()); // each stroke's record holds it
            QCOMPARE(rig.panel.calls.mid(rig.panel.calls.size() - 2), (QStringList{"showOutcome 📋 ペーストしました", "show"}));
        }
        rig.dictation.cancel();
        rig.settings.setContinuousMode(ContinuousMode::Off);
        rig.dictation.toggle(target);
        rig.advance(0.3);
        rig.recognizer.lastSession()->deliver("最後", true);
        rig.dictation.toggle(nullptr);
        rig.advance(1.0);
        QCOMPARE(rig.pasteboard.texts.last(), QStringLiteral("最後。"));
        QCOMPARE(rig.synthetic.count(kKeysymReturn), words.size());
        for (const Stroke& stroke : rig.synthetic.strokes)
            QCOMPARE(stroke.target, target);
    }

    void aLostMicrophoneEndsTheDictationAsAStopWould()
    {
        DictationRig rig;
        rig.dictation.toggle(nullptr);
        rig.advance(0.5);
        rig.recognizer.lastSession()->deliver("ここまで", true);
        rig.advance(0.2);
        rig.input.loseDevice();
        rig.advance(1.0);
        QVERIFY(!rig.speech.isRecording());
        QCOMPARE(rig.pasteboard.texts, QStringList{"ここまで。"});
        QCOMPARE(rig.history.entries().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDictation)
#include "tst_Dictation.moc"
