#include "support/DictationRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

constexpr quint32 kSpace = ShortcutKey::kSpace;
constexpr quint32 kEsc = ShortcutKey::kEscape;
constexpr quint32 kRightCtrl = 0xffe4;
constexpr quint32 kLeftCtrl = 0xffe3;
constexpr quint8 kAlt = ShortcutKey::Alt;
constexpr quint8 kCtrl = ShortcutKey::Ctrl;

} // namespace

class TestHotkeyManager : public QObject {
    Q_OBJECT

private slots:
    // The tray menu and the panel's stop button run the same dictation with less around it.
    void aPlainDictationIsCancelledLikeAnyOther()
    {
        DictationRig rig;
        rig.useGemini();
        rig.settings.setContinuousMode(ContinuousMode::Auto);
        rig.server.enqueue(FakeReply::neverAnswer());
        rig.hotkeys.startMonitoring();
        rig.dictation.toggle(FakeWorkspace::app(300), Dictation::Extent::Plain);
        rig.advance(0.3);
        QVERIFY(rig.speech.isRecording());
        QVERIFY2(rig.panel.calls.isEmpty(), "the menu shows no panel");
        QVERIFY2(!rig.dictation.state().isContinuous(), "nor starts continuous mode");
        rig.recognizer.lastSession()->deliver("メニューから", true);
        rig.advance(1.0);
        rig.dictation.toggle(nullptr, Dictation::Extent::Plain);
        for (int i = 0; i < 500 && rig.server.generateRequests().isEmpty(); ++i) {
            rig.clock.advance(0.01);
            QTest::qWait(1);
        }
        QCOMPARE(rig.server.generateRequests().size(), 1);
        QVERIFY(rig.dictation.isBusy());
        QVERIFY2(rig.keyboard.press(kEsc, 0), "the cancel shortcut applies to it");
        rig.advance(4.0);
        QVERIFY(rig.pasteboard.texts.isEmpty());
        QVERIFY(!rig.dictation.isBusy());
        QCOMPARE(rig.synthetic.count(kKeysymReturn), 0);
    }

    // Key sequences and whether a dictation records after each step ('R') or not ('-'). Steps:
    // a chord ("Alt+Space", "Shift+Alt+Space", "A"), a modifier key going down
    // or up ("RCtrl+", "RCtrl-", "LCtrl+", "LCtrl-"), a release whose press was never seen,
    // after a gap ("RCtrl~1.0"), or a wait ("wait2").
    void keySequences_data()
    {
        QTest::addColumn<bool>("loneStart");  // Right Ctrl alone starts (else Alt+Space)
        QTest::addColumn<bool>("loneCancel"); // Right Ctrl alone cancels (else Esc)
        QTest::addColumn<bool>("failFirstStart");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("recording");
        QTest::newRow("extra modifiers do not match")
            << false << false << false << "Shift+Alt+Space Alt+Space" << "-R";
        QTest::newRow("lone Right Ctrl: the other Control does nothing, releases do not toggle")
            << true << false << false << "LCtrl+ LCtrl- RCtrl+ RCtrl- RCtrl+ RCtrl- wait2" << "--RR---";
        QTest::newRow("after a stop by the key, two phantom releases within 0.65 s start")
            << true << false << false << "RCtrl+ RCtrl- RCtrl+ RCtrl- wait2 RCtrl~1.0 RCtrl~0.5" << "RR----R";
        QTest::newRow("after a stop by the key, two phantom releases 0.7 s apart do not")
            << true << false << false << "RCtrl+ RCtrl- RCtrl+ RCtrl- wait2 RCtrl~1.0 RCtrl~0.7" << "RR-----";
        QTest::newRow("any other key lifts the block: one phantom release starts")
            << true << false << false << "RCtrl+ RCtrl- RCtrl+ RCtrl- wait2 A RCtrl~" << "RR----R";
        QTest::newRow("a phantom acts once; a late lone release needs its twin")
            << true << false << true << "RCtrl~ RCtrl~1.0" << "--";
        QTest::newRow("a lone-modifier cancel needs its confirming twin")
            << false << true << false << "Alt+Space RCtrl~ RCtrl~0.3" << "RR-";
    }
    void keySequences()
    {
        QFETCH(bool, loneStart);
        QFETCH(bool, loneCancel);
        QFETCH(bool, failFirstStart);
        QFETCH(QString, steps);
        QFETCH(QString, recording);
        DictationRig rig;
        if (loneStart)
            rig.settings.setStartShortcut(ShortcutKey{kRightCtrl, 0});
        if (loneCancel)
            rig.settings.setCancelShortcut(ShortcutKey{kRightCtrl, 0});
        if (failFirstStart)
            rig.input.failNextStart(QStringLiteral("マイクがありません"));
        rig.hotkeys.startMonitoring();
        for (quint32 key : {quint32('a'), quint32('s'), kKeysymReturn})
            rig.keyboard.press(key, 0);
        QCOMPARE(rig.keyboard.frontmostLookups, 0); // typing never asks the X server who is in front
        const QHash<QString, std::pair<quint32, quint8>> chords{
            {"Alt+Space", {kSpace, kAlt}}, {"Shift+Alt+Space", {kSpace, kAlt | ShortcutKey::Shift}}, {"A", {'a', 0}}};
        QString seen;
        for (const QString& step : steps.split(' ')) {
            const quint32 side = step.startsWith("RCtrl") ? kRightCtrl : kLeftCtrl;
            if (chords.contains(step))
                rig.keyboard.press(chords[step].first, chords[step].second);
            else if (step.startsWith("wait"))
                rig.advance(step.mid(4).toDouble() - 0.1);
            else if (step.contains('~'))
                rig.keyboard.phantomRelease(side, step.section('~', 1).isEmpty() ? 0.1 : step.section('~', 1).toDouble());
            else
                rig.keyboard.modifier(side, step.endsWith('+'), step.endsWith('+') ? kCtrl : 0);
            rig.advance(0.1);
            seen += rig.speech.isRecording() ? 'R' : '-';
        }
        QCOMPARE(seen, recording);
    }

    // The observing path sees a key twice (the same timestamp), or late: an Esc pressed before the
    // start, read after it, must not cancel the new dictation.
    void duplicateAndLateEventsOfTheObservingPath()
    {
        DictationRig rig;
        rig.keyboard.tapInstallable = false; // only the monitor path sees keys
        rig.hotkeys.startMonitoring();
        const KeyEvent e{kSpace, kAlt, 42.0, nullptr};
        rig.keyboard.onKeyDown(e);
        rig.keyboard.onKeyDown(e);
        rig.advance(0.5);
        QVERIFY(rig.speech.isRecording());
        QCOMPARE(rig.recognizer.sessions.size(), 1);
        rig.keyboard.onKeyDown(KeyEvent{kEsc, 0, 41.9, nullptr});
        rig.advance(0.1);
        QVERIFY2(rig.speech.isRecording(), "an Esc from before the start");
        rig.keyboard.onKeyDown(KeyEvent{kEsc, 0, 42.6, nullptr});
        rig.advance(0.1);
        QVERIFY(!rig.speech.isRecording());
    }

    void grabConflictIsReported()
    {
        DictationRig rig;
        rig.keyboard.conflicting = {ShortcutKey::defaultStart()};
        QSignalSpy spy(&rig.hotkeys, &HotkeyManager::swallowConflict);
        rig.hotkeys.startMonitoring();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(rig.dictation.state().statusMessage(), QStringLiteral("⚠️ ショートカット Alt+Space は他のアプリが使用中です"));
        QVERIFY(rig.log.lines().join("\n").contains("could not take Alt+Space"));
        // What the user is told names the key and free chords to use instead.
        QCOMPARE(rig.hotkeys.conflicts(), QList<ShortcutKey>{ShortcutKey::defaultStart()});
        const QString advice = HotkeyManager::conflictAdvice(rig.hotkeys.conflicts());
        QVERIFY(advice.startsWith("Alt+Space") && advice.contains("Ctrl+Alt+Space"));
        // Still works through the monitor.
        rig.keyboard.onKeyDown(KeyEvent{kSpace, kAlt, 7.0, {}});
        rig.advance(0.2);
        QVERIFY(rig.speech.isRecording());
    }

    // A desktop service reports its shortcut without a key event: the target is still the
    // application in front at that moment, not the last one whose activation was reported.
    void aDesktopShortcutTargetsTheApplicationInFront()
    {
        struct Shortcuts final : DesktopShortcuts {
            void bind(std::optional<ShortcutKey>, std::optional<ShortcutKey>) override {}
            void setCancelActive(bool) override {}
            QString mechanism() const override { return QStringLiteral("test"); }
            QString trigger(const QString&) const override { return {}; }
        } shortcuts;
        DictationRig rig;
        HotkeyManager hotkeys({rig.log, rig.clock, rig.settings, rig.dictation, rig.keyboard, &shortcuts});
        hotkeys.startMonitoring();
        auto earlier = FakeWorkspace::app(100);
        auto editor = FakeWorkspace::app(200);
        rig.workspace.activateApplication(earlier);
        rig.advance(0.1);
        rig.workspace.frontmost = editor; // its activation not reported yet
        shortcuts.onActivated(DesktopShortcuts::kToggle);
        rig.advance(0.1);
        QVERIFY(rig.speech.isRecording());
        QCOMPARE(rig.dictation.workspaceMonitor().targetApp(), ApplicationRef(editor));
        rig.dictation.cancel();
    }

    void pausedWhileTheRecorderCaptures()
    {
        DictationRig rig;
        rig.hotkeys.startMonitoring();
        rig.hotkeys.setPaused(true);
        QVERIFY(rig.keyboard.swallowedNow().isEmpty());
        QVERIFY(!rig.keyboard.press(kSpace, kAlt));
        rig.advance(0.2);
        QVERIFY(!rig.speech.isRecording());
        rig.hotkeys.setPaused(false);
        QCOMPARE(rig.keyboard.swallowedNow(), (QList<ShortcutKey>{ShortcutKey::defaultStart()}));
        QVERIFY(rig.keyboard.press(kSpace, kAlt));
    }

};

QTEST_GUILESS_MAIN(TestHotkeyManager)
#include "tst_HotkeyManager.moc"
