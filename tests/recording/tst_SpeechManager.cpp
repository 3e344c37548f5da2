#include "recording/AudioAccumulator.h"
#include "support/DictationRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace vel;
using namespace vel::test;

class TestSpeechManager : public QObject {
    Q_OBJECT
private slots:
    void startAndStopGuards()
    {
        DictationRig rig;
        QVERIFY(!rig.stop().error); // idle: nothing to stop or cancel
        rig.speech.cancelRecording();
        QVERIFY(!rig.start().error);
        QSignalSpy spy(&rig.speech, &SpeechManager::isRecordingChanged);
        QVERIFY(!rig.start().error); // a second start is refused quietly
        QCOMPARE(spy.count(), 0);
        QCOMPARE(rig.recognizer.sessions.size(), 1);
    }

    void failedEngineStartReleasesEverything()
    {
        DictationRig rig;
        rig.input.failNextStart(QStringLiteral("入力デバイスがありません"));
        const Outcome o = rig.start(true);
        QCOMPARE(o.description(), QStringLiteral("入力デバイスがありません"));
        QVERIFY(!rig.speech.isRecording());
        QVERIFY(!rig.speech.isAudioRunning());
        QVERIFY(!rig.speech.isRecognizerInputOpen());
        QVERIFY(!rig.speech.hasRecognizerTask());
        QVERIFY(!rig.speech.hasRecognizerSession());
        QVERIFY(!rig.speech.geminiAudioAccumulator());
        QVERIFY(rig.recognizer.lastSession()->inputFinished());
        // The next start works.
        QVERIFY(!rig.start(true).error);
        QVERIFY(rig.speech.isRecording());
    }

    void threeFinalsJoinWithLineFeeds()
    {
        DictationRig rig;
        rig.start();
        auto session = rig.recognizer.lastSession();
        session->deliver("A", false);
        session->deliver("A", true);
        session->deliver("B", true);
        session->deliver("C の途中", false);
        rig.clock.advance(0.1);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("A\nB"));
        session->deliver("C", true);
        QVERIFY(!rig.stop(true).error);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("A\nB\nC"));
        QVERIFY(session->inputFinished());
        QCOMPARE(session->finalizeCalls(), 1);
    }

    void lastUtteranceWithOnlyVolatileResults()
    {
        DictationRig rig;
        rig.start();
        auto session = rig.recognizer.lastSession();
        session->deliver("最初の文", true);
        session->deliver("最後は", false);
        session->deliverAtFinalize("最後は途中まで", false);
        rig.clock.advance(0.5);
        QVERIFY(!rig.stop(true).error);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("最初の文\n最後は途中まで"));
        QVERIFY(rig.speech.hasAnyRecognizedText());
    }

    void stopWithoutWaitingDropsTheRecogniser()
    {
        DictationRig rig;
        rig.start(true);
        auto session = rig.recognizer.lastSession();
        session->deliver("途中", true);
        rig.clock.advance(1.0);
        rig.stop(false);
        QVERIFY(!rig.speech.hasRecognizerSession());
        QVERIFY(!rig.speech.hasRecognizerTask());
        QVERIFY(rig.speech.geminiAudioAccumulator()); // the pipeline reads it after the stop
        ManualClock::drainPostedWork();
        QCOMPARE(session->finalizeCalls(), 1);
        // A result that arrives later changes nothing.
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("途中"));
    }

    void cancelClearsAndFinalizes()
    {
        DictationRig rig;
        rig.start(true);
        auto session = rig.recognizer.lastSession();
        session->deliver("消える", true);
        session->failFinalize(Error(QStringLiteral("終了できません")));
        rig.clock.advance(0.3);
        rig.speech.cancelRecording();
        QVERIFY(!rig.speech.isRecording());
        QCOMPARE(rig.speech.transcribedText(), QString());
        QVERIFY(!rig.speech.geminiAudioAccumulator());
        QVERIFY(!rig.speech.hasSilenceTimer());
        ManualClock::drainPostedWork();
        QCOMPARE(session->finalizeCalls(), 1); // its failure is only logged
    }

    // White space of any width is nothing heard; a volatile text is something.
    void hasAnyRecognizedText()
    {
        DictationRig rig;
        rig.start();
        rig.recognizer.lastSession()->deliver(QStringLiteral(" \n\t　"), false);
        rig.clock.advance(0.1);
        QVERIFY(!rig.speech.hasAnyRecognizedText());
        rig.recognizer.lastSession()->deliver(QStringLiteral("はい"), false);
        rig.clock.advance(0.1);
        QVERIFY(rig.speech.hasAnyRecognizedText());
    }

    void withoutRecogniser_data()
    {
        QTest::addColumn<bool>("needsGeminiAudio");
        QTest::newRow("audio for Gemini: records without local text") << true;
        QTest::newRow("local text needed: refuses to start") << false;
    }
    void withoutRecogniser()
    {
        QFETCH(bool, needsGeminiAudio);
        DictationRig rig;
        rig.recognizer.available = false;
        const Outcome o = rig.start(needsGeminiAudio);
        QVERIFY(rig.recognizer.sessions.isEmpty());
        QCOMPARE(rig.recognizer.formatQueries, 0);
        if (needsGeminiAudio) {
            QVERIFY(!o.error);
            QVERIFY(rig.speech.isRecording());
            QVERIFY(rig.speech.isAudioRunning());
            rig.clock.advance(1);
            rig.stop(false);
            QVERIFY(!rig.speech.hasAnyRecognizedText());
        } else {
            QVERIFY(errorIs<SpeechError>(o.error));
            QVERIFY(o.description().contains(QStringLiteral("Gemini APIキー")));
            QVERIFY(!rig.speech.isRecording());
            QVERIFY(!rig.speech.isAudioRunning());
        }
    }

    void contextualStringsReachTheSession()
    {
        DictationRig rig;
        rig.start(false, {"東京", "Velutanora"});
        QCOMPARE(rig.recognizer.lastSession()->contextualStrings, (QStringList{"東京", "Velutanora"}));
    }

    void modelCheck_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("hasInstallation");
        QTest::addColumn<bool>("fails");
        QTest::newRow("installed") << int(ModelStatus::Installed) << true << false;
        QTest::newRow("downloaded") << int(ModelStatus::Supported) << true << false;
        QTest::newRow("download in progress") << int(ModelStatus::Downloading) << true << false;
        QTest::newRow("no installation request") << int(ModelStatus::Supported) << false << false;
        QTest::newRow("unsupported") << int(ModelStatus::Unsupported) << true << true;
        QTest::newRow("unknown") << int(ModelStatus::Unknown) << true << false;
        QTest::newRow("no Japanese locale: the model is not asked") << -1 << true << true;
    }
    void modelCheck()
    {
        QFETCH(int, status);
        QFETCH(bool, hasInstallation);
        QFETCH(bool, fails);
        DictationRig rig;
        if (status < 0)
            rig.recognizer.locales = {"en_US", "fr_FR"};
        else
            rig.recognizer.model = ModelStatus(status);
        if (!hasInstallation)
            rig.recognizer.installation.reset();
        const Outcome o = rig.run(rig.modelCheck.ensureJapanese());
        QCOMPARE(bool(o.error), fails);
        QCOMPARE(rig.recognizer.modelQueries, status < 0 ? 0 : 1);
    }

    void wholeDictationOfAFixture()
    {
        DictationRig rig(testdata("speech-ja/ja_1.wav"));
        const WavFile fixture = WavFile::read(testdata("speech-ja/ja_1.wav"));
        QSignalSpy levels(&rig.speech, &SpeechManager::audioLevelChanged);
        rig.start(true);
        auto session = rig.recognizer.lastSession();
        session->deliverAtFinalize("今日は晴れです", true);
        rig.clock.advance(fixture.durationSeconds() + 1.0);
        QVERIFY(rig.input.isAtEnd());
        QVERIFY(levels.count() > 10);
        rig.stop(true);
        QCOMPARE(rig.speech.transcribedText(), QStringLiteral("今日は晴れです"));

        // Every buffer was 1024 frames and the recogniser heard all of them.
        QCOMPARE(session->frames(), qsizetype(rig.input.buffersDelivered()) * 1024);
        QCOMPARE(session->audio().left(fixture.samples.size()), fixture.samples);

        // The kept audio is the fixture without its lead-in beyond 0.2 s and with at most 0.3 s after it.
        const auto wav = rig.speech.geminiAudioAccumulator()->buildWAV();
        QVERIFY(wav);
        const QByteArray kept = wav->mid(44);
        const qsizetype at = fixture.samples.indexOf(kept.left(32000));
        QVERIFY2(at >= 0, "the kept audio is a stretch of the fixture");
        QVERIFY(at > 0); // some lead-in was cut
        QVERIFY(kept.size() < fixture.samples.size() + 9600);
        QVERIFY(kept.size() > fixture.samples.size() - at - 32000);
    }
};

QTEST_GUILESS_MAIN(TestSpeechManager)
#include "tst_SpeechManager.moc"
