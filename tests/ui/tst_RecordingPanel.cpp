#include "dictation/DictationStack.h"
#include "settings/AppSettings.h"
#include "support/Contrast.h"
#include "support/DictationRig.h"
#include "ui/RecordingIndicatorView.h"
#include "ui/RecordingPanel.h"
#include "ui/RecordingPanelController.h"

#include <QLabel>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {
struct RecordingNotifier final : Notifier {
    QStringList texts;
    void notify(const QString& text) override { texts.append(text); }
};

// The panel's controller as dictation control drives it, over a scripted dictation.
struct PanelRig {
    DictationRig speech;
    RecordingNotifier notifier;
    RecordingPanelController controller{speech.log, speech.clock, &notifier};
    DictationStack stack{{speech.log, speech.clock, speech.settings, speech.recognizer, speech.input, speech.debugLog,
                          speech.pasteboard, speech.synthetic, speech.workspace, controller, &speech.gemini}};
    Dictation& dictation = stack.dictation;
    AppSettings& settings = speech.settings;
    FakePasteboard& pasteboard = speech.pasteboard;
    FakeSyntheticInput& synthetic = speech.synthetic;
    PanelRig() { controller.bind(&dictation.state(), &settings, &dictation); }
    RecordingIndicatorView* view() const { return controller.panel()->findChild<RecordingIndicatorView*>(); }
    void advance(double seconds)
    {
        for (double t = 0; t < seconds - 1e-9; t += 0.01)
            speech.advance(0.01);
    }
    // A dictation of `words`, started by a shortcut (Full) or the tray menu (Plain), until the
    // recording runs.
    void start(Dictation::Extent extent = Dictation::Extent::Full, const QString& words = QStringLiteral("はい"))
    {
        dictation.toggle(nullptr, extent);
        advance(0.1);
        if (speech.recognizer.lastSession())
            speech.recognizer.lastSession()->deliver(words, true);
    }
    // The second press: stop, process and paste.
    void stop()
    {
        dictation.toggle(nullptr);
        for (int i = 0; i < 500 && dictation.isBusy(); ++i)
            advance(0.01);
    }
};

} // namespace

class TestRecordingPanel : public QObject {
    Q_OBJECT
private slots:
    void followsTheDictation()
    {
        PanelRig rig;
        rig.start();
        QVERIFY(rig.controller.isPanelVisible());
        QCOMPARE(rig.view()->face(), RecordingIndicatorView::Face::Recording);
        // What is heard shows as it is heard, the words still changing included.
        rig.advance(0.05);
        QCOMPARE(rig.view()->heardLine(), QStringLiteral("はい"));
        rig.speech.recognizer.lastSession()->deliver(QStringLiteral("いまの言葉"), false);
        rig.advance(0.05);
        QCOMPARE(rig.view()->heardLine(), QStringLiteral("はい いまの言葉"));
        rig.stop();
        QVERIFY(rig.controller.showCopied());
        QCOMPARE(rig.view()->face(), RecordingIndicatorView::Face::Confirmation);
        QCOMPARE(rig.view()->confirmationText(), QStringLiteral("ペーストしました"));
        rig.advance(1.8);
        QVERIFY(rig.controller.isPanelVisible());
        rig.advance(0.3);
        QTRY_VERIFY(!rig.controller.isPanelVisible()); // after the 0.25 s fade
        QVERIFY(!rig.controller.showCopied());
    }

    void aNewDictationWithinTwoSecondsKeepsThePanel()
    {
        PanelRig rig;
        rig.start();
        rig.stop();
        rig.advance(1.0);
        rig.start();
        QVERIFY(!rig.controller.showCopied());
        rig.advance(3.0);
        QTest::qWait(400);
        QVERIFY2(rig.controller.isPanelVisible(), "the delayed hide was cancelled");
    }

    // Continuous mode: each turn's confirmation gives way to the next turn's level and time.
    void continuousModeShowsEachTurnAfresh()
    {
        PanelRig rig;
        rig.settings.setContinuousMode(ContinuousMode::Auto);
        rig.settings.setContinuousSilenceSeconds(1.0);
        rig.start();
        for (int turn = 1; turn <= 6; ++turn) {
            for (int i = 0; i < 400 && rig.pasteboard.texts.size() < turn; ++i)
                rig.advance(0.01);
            QCOMPARE(rig.view()->face(), RecordingIndicatorView::Face::Confirmation);
            QCOMPARE(rig.view()->confirmationText(), QStringLiteral("送信しました"));
            rig.advance(1.0); // Return, then listening again
            QCOMPARE(rig.view()->face(), RecordingIndicatorView::Face::Recording);
            QVERIFY(rig.controller.isPanelVisible());
            rig.speech.recognizer.lastSession()->deliver(QStringLiteral("はい"), true);
        }
    }

    // One owner shows the panel: dictation control, for a shortcut's dictation only. What the
    // user must know reaches them where no panel shows.
    void thePanelShowsWhereTheDictationAsks_data()
    {
        QTest::addColumn<int>("extent");
        QTest::addColumn<bool>("stealth");
        QTest::addColumn<bool>("pasteRefused");
        QTest::addColumn<bool>("panelShown");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QStringList>("notified");
        const QString refused = "📋 コピー済み（Ctrl+Vでペースト）— キー入力が許可されませんでした";
        QTest::newRow("shortcut") << int(Dictation::Extent::Full) << false << false << true << "ペーストしました" << QStringList();
        QTest::newRow("shortcut, not pasted") << int(Dictation::Extent::Full) << false << true << true << "コピーしました"
                                              << QStringList();
        QTest::newRow("tray menu") << int(Dictation::Extent::Plain) << false << false << false << "" << QStringList();
        QTest::newRow("tray menu, not pasted") << int(Dictation::Extent::Plain) << false << true << false << ""
                                               << QStringList{refused};
        QTest::newRow("stealth, not pasted") << int(Dictation::Extent::Full) << true << true << false << ""
                                             << QStringList{refused};
    }
    void thePanelShowsWhereTheDictationAsks()
    {
        QFETCH(int, extent);
        QFETCH(bool, stealth);
        QFETCH(bool, pasteRefused);
        QFETCH(bool, panelShown);
        QFETCH(QString, confirmation);
        QFETCH(QStringList, notified);
        PanelRig rig;
        rig.settings.setStealthMode(stealth);
        rig.synthetic.allowed = !pasteRefused;
        rig.start(Dictation::Extent(extent));
        QCOMPARE(rig.controller.isPanelVisible(), panelShown);
        rig.stop();
        QCOMPARE(rig.pasteboard.texts, QStringList{"はい。"});
        QCOMPARE(rig.controller.isPanelVisible(), panelShown);
        if (panelShown) {
            QCOMPARE(rig.view()->confirmationText(), confirmation);
            QCOMPARE(rig.controller.confirmationNote(), pasteRefused ? rig.synthetic.refusal : QString());
        }
        QCOMPARE(rig.notifier.texts, notified);
        // A cancel says so for a moment; then the panel goes.
        rig.start(Dictation::Extent(extent));
        rig.dictation.cancel();
        QCOMPARE(rig.controller.isPanelVisible(), panelShown);
        if (panelShown)
            QCOMPARE(rig.view()->confirmationText(), QStringLiteral("キャンセルしました"));
        rig.advance(1.1);
        QTRY_VERIFY(!rig.controller.isPanelVisible());
    }

    void failedStartShowsItsReason_data()
    {
        QTest::addColumn<QString>("dismissal");
        QTest::addColumn<double>("shownFor");
        // Long enough to read this reason (23 characters): 2 s and 0.12 s a character.
        QTest::newRow("by itself") << "time" << 2.0 + 0.12 * 23;
        QTest::newRow("a click") << "click" << 1.0;
        QTest::newRow("the cancel shortcut") << "cancel" << 1.0;
        QTest::newRow("a new dictation") << "start" << 1.0;
    }
    void failedStartShowsItsReason()
    {
        QFETCH(QString, dismissal);
        QFETCH(double, shownFor);
        PanelRig rig;
        const QString status = QStringLiteral("⚠️ 日本語の音声認識モデルがまだ使えません。");
        rig.controller.showFailure(status);
        QVERIFY(rig.controller.isPanelVisible());
        QCOMPARE(rig.view()->face(), RecordingIndicatorView::Face::Failure);
        QCOMPARE(rig.controller.failureText(), status);
        QVERIFY(rig.notifier.texts.isEmpty());
        rig.speech.clock.advance(shownFor - 0.1);
        QVERIFY2(rig.controller.isPanelVisible(), "the reason stays long enough to be read");
        if (dismissal == "time") {
            rig.speech.clock.advance(0.2);
            QTRY_VERIFY(!rig.controller.isPanelVisible()); // after the fade
        } else if (dismissal == "click") {
            QTest::mouseClick(rig.view(), Qt::LeftButton);
            QVERIFY(!rig.controller.isPanelVisible());
        } else if (dismissal == "cancel") {
            rig.dictation.cancel();
            QVERIFY(!rig.controller.isPanelVisible());
        } else {
            rig.start();
            QCOMPARE(rig.view()->face(), RecordingIndicatorView::Face::Recording);
            rig.speech.clock.advance(6.0);
            QVERIFY2(rig.controller.isPanelVisible(), "the old timer does not hide the new dictation");
            return;
        }
        QVERIFY(rig.controller.failureText().isEmpty());
    }

    void withoutThePanelTheReasonIsANotification()
    {
        PanelRig rig;
        rig.settings.setStealthMode(true);
        rig.controller.showFailure(QStringLiteral("⚠️ マイクがありません"));
        QVERIFY(!rig.controller.isPanelVisible());
        QCOMPARE(rig.notifier.texts, QStringList{"⚠️ マイクがありません"});
        RecordingPanelController unbound(rig.speech.log, rig.speech.clock, &rig.notifier);
        unbound.showFailure(QStringLiteral("⚠️ 録音できません"));
        QCOMPARE(rig.notifier.texts.size(), 2);
    }

    void aGeminiFallbackIsNamedOnTheConfirmation_data()
    {
        QTest::addColumn<bool>("stealth");
        QTest::newRow("panel") << false;
        QTest::newRow("stealth") << true;
    }
    void aGeminiFallbackIsNamedOnTheConfirmation()
    {
        QFETCH(bool, stealth);
        PanelRig rig;
        rig.settings.setStealthMode(stealth);
        rig.speech.useGemini();
        rig.speech.server.enqueue(FakeReply::withStatus(401, ""));
        rig.start(Dictation::Extent::Full, QStringLiteral("今日は晴れです"));
        rig.stop();
        const QString reason = rig.dictation.state().outcome()->correctionFailure;
        QVERIFY(reason.startsWith(QStringLiteral("⚠️ Gemini: ")));
        if (stealth) {
            QCOMPARE(rig.notifier.texts, QStringList{reason});
        } else {
            QCOMPARE(rig.controller.confirmationNote(), reason);
            QVERIFY(rig.notifier.texts.isEmpty());
            QCOMPARE(rig.view()->face(), RecordingIndicatorView::Face::Confirmation);
        }
        // Gemini answers the next time: no note.
        rig.speech.server.enqueue(FakeReply::answer(QStringLiteral("今日は晴れです。")));
        rig.start(Dictation::Extent::Full, QStringLiteral("今日は晴れです"));
        rig.stop();
        QVERIFY(rig.controller.confirmationNote().isEmpty());
        QCOMPARE(rig.notifier.texts.size(), stealth ? 1 : 0);
    }

    void countdownAndTimeText()
    {
        PanelRig rig;
        rig.start();
        rig.speech.clock.advance(75.4);
        QCOMPARE(rig.view()->timeText(), QStringLiteral("1:15"));
        rig.dictation.cancel();
        rig.settings.setContinuousMode(ContinuousMode::PasteOnly);
        rig.start();
        QCOMPARE(rig.view()->timeText(), QString()); // continuous without a countdown: nothing
    }

    // The panel follows the appearance while it shows, and its text stands out in both.
    void thePanelIsReadableInBothAppearances()
    {
        PanelRig rig;
        rig.start();
        rig.speech.advance(2.0);
        for (const AppearanceMode mode : {AppearanceMode::Dark, AppearanceMode::Light}) {
            rig.settings.setAppearanceMode(mode);
            QApplication::processEvents();
            RecordingIndicatorView* view = rig.view();
            const QImage time = view->grab().toImage().copy(QRect(view->timeLabel()->mapTo(view, QPoint()), view->timeLabel()->size()));
            QCOMPARE(standsOut(time, mode == AppearanceMode::Dark), std::optional<bool>(true));
        }
    }

    void modeButtonCyclesAndTheBubbleLingers()
    {
        PanelRig rig;
        rig.settings.setCorrectionMode(CorrectionMode::Fast);
        rig.start();
        RecordingIndicatorView* view = rig.view();
        view->clickModeButton(); // a stray click only shows the mode
        QCOMPARE(rig.settings.correctionMode(), CorrectionMode::Fast);
        QVERIFY(view->isModeBubbleVisible());
        rig.speech.clock.advance(1.0);
        view->clickModeButton();
        QCOMPARE(rig.settings.correctionMode(), CorrectionMode::Quality);
        view->clickModeButton();
        view->clickModeButton();
        QCOMPARE(rig.settings.correctionMode(), CorrectionMode::Fast); // three changes: back to the start
        rig.speech.clock.advance(2.9);
        QVERIFY(view->isModeBubbleVisible());
        rig.speech.clock.advance(0.2);
        QVERIFY(!view->isModeBubbleVisible());
        view->clickModeButton();
        QCOMPARE(rig.settings.correctionMode(), CorrectionMode::Fast);

        view->clickContinuousButton();
        QCOMPARE(rig.settings.continuousMode(), ContinuousMode::PasteOnly);
        view->clickContinuousButton();
        view->clickContinuousButton();
        QCOMPARE(rig.settings.continuousMode(), ContinuousMode::Off);
    }

    void stopButtonStopsAndProcesses()
    {
        PanelRig rig;
        rig.settings.setCorrectionMode(CorrectionMode::Quality); // no key: waits for speech
        rig.start(Dictation::Extent::Full, "とめる");
        rig.advance(0.5);
        rig.view()->clickStop();
        rig.advance(0.5);
        QVERIFY(!rig.stack.speech.isRecording());
        QCOMPARE(rig.pasteboard.texts, QStringList{"とめる。"});
    }
};

QTEST_MAIN(TestRecordingPanel)
#include "tst_RecordingPanel.moc"
