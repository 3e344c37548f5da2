#include "OtherGrabber.h"
#include "support/DesktopRig.h"
#include "support/Tones.h"

#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

void xdotool(const QStringList& args) { QProcess::execute(QStringLiteral("xdotool"), args); }

using X11Rig = DesktopRig;

bool inFront(X11Rig& rig, Target& target)
{
    const ApplicationRef front = rig.backend.workspace->frontmostApplication();
    return front && front->processId() == target.process.processId();
}

} // namespace

class TestX11Desktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (scripts/test starts Xvfb and openbox)");
        RecordingLogger log;
        SystemClock clock;
        const DesktopBackend probe = DesktopBackend::create(log, clock);
        if (!probe.problem.isEmpty())
            QSKIP(qPrintable(probe.problem));
    }

    void startShortcutIsSwallowedAndTheAnswerPasted()
    {
        X11Rig rig;
        Target target(rig.dir.path(), "xcb");
        QTRY_VERIFY_WITH_TIMEOUT(inFront(rig, target), 10000);
        rig.hotkeys.startMonitoring();
        rig.server.enqueue(FakeReply::answer("テスト結果です"));

        xdotool({"key", "alt+space"});
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        QCOMPARE(rig.dictation.workspaceMonitor().targetApp()->processId(), target.process.processId());
        rig.recognizer.lastSession()->deliver("てすと", true);
        QTest::qWait(300);
        xdotool({"key", "alt+space"});
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("テスト結果です。"), 10000);
        QTRY_COMPARE(rig.dictation.state().statusMessage(), QStringLiteral("📋 ペーストしました"));
        // Seen once under CI load: the pasted text before the chord in the key log. Wait for the log.
        QTRY_VERIFY2_WITH_TIMEOUT(target.keys().contains("Ctrl+V"), qPrintable(target.keys().join(',')), 5000);
        const QStringList keys = target.keys();
        QVERIFY2(!keys.contains("Alt+Space") && !keys.contains("Space"), qPrintable(keys.join(',')));
        xdotool({"key", "Escape"});
        QTRY_VERIFY2_WITH_TIMEOUT(target.keys().contains("Esc"), "the first Esc after a dictation is the target's", 5000);
    }

    void escapeCancelsWhileRecordingAndReachesTheTargetWhenIdle()
    {
        X11Rig rig;
        Target target(rig.dir.path(), "xcb");
        QTRY_VERIFY_WITH_TIMEOUT(inFront(rig, target), 10000);
        rig.hotkeys.startMonitoring();
        xdotool({"key", "alt+space"});
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        xdotool({"key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(rig.dictation.state().wasCancelled(), 5000);
        QVERIFY(!rig.speech.isRecording());
        QTest::qWait(300);
        QVERIFY(!target.keys().contains("Esc"));
        xdotool({"key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(target.keys().contains("Esc"), 5000);
    }

    void loneRightControlTogglesOnce()
    {
        X11Rig rig;
        rig.settings.setStartShortcut(ShortcutKey{62, 0});
        rig.settings.setGeminiApiKey(QString());
        Target target(rig.dir.path(), "xcb");
        QTRY_VERIFY_WITH_TIMEOUT(inFront(rig, target), 10000);
        rig.hotkeys.startMonitoring();
        xdotool({"key", "105"});
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        QTest::qWait(500);
        QVERIFY2(rig.speech.isRecording(), "the release does not toggle again");
        QCOMPARE(rig.recognizer.sessions.size(), 1);
        rig.recognizer.lastSession()->deliver("みぎ", true);
        xdotool({"key", "105"});
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("みぎ。"), 10000);
        QTest::qWait(500);
        QVERIFY2(!rig.speech.isRecording(), "the release after the stop starts nothing");
    }

    void continuousAutoPressesReturn()
    {
        X11Rig rig(tonePcm(1.0, 0.3, 300) + silencePcm(60));
        rig.settings.setContinuousMode(ContinuousMode::Auto);
        rig.settings.setContinuousSilenceSeconds(1.0);
        rig.server.setDefaultReply(FakeReply::answer("返事"));
        Target target(rig.dir.path(), "xcb");
        QTRY_VERIFY_WITH_TIMEOUT(inFront(rig, target), 10000);
        rig.hotkeys.startMonitoring();
        xdotool({"key", "alt+space"});
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("返事。\n"), 15000);
        QVERIFY(target.keys().contains("Return"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.log.contains("🔄 [continuous] recording restarted"), 5000);
        xdotool({"key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(!rig.speech.isRecording(), 5000);
    }

    void heldAltDoesNotCombineWithThePaste()
    {
        X11Rig rig;
        rig.server.enqueue(FakeReply::answer("オルト"));
        Target target(rig.dir.path(), "xcb");
        QTRY_VERIFY_WITH_TIMEOUT(inFront(rig, target), 10000);
        rig.hotkeys.startMonitoring();
        xdotool({"keydown", "alt"});
        xdotool({"key", "space"});
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        rig.recognizer.lastSession()->deliver("おると", true);
        QTest::qWait(200);
        xdotool({"key", "space"}); // still holding Alt: the stop, and the paste that follows it
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("オルト。"), 10000);
        xdotool({"keyup", "alt"});
        QVERIFY2(!target.keys().contains("Ctrl+Alt+V"), qPrintable(target.keys().join(',')));
    }

    void terminalGetsControlShiftV()
    {
        X11Rig rig;
        rig.server.enqueue(FakeReply::answer("端末"));
        Target target(rig.dir.path(), "xcb", QStringLiteral("xterm"));
        QTRY_VERIFY_WITH_TIMEOUT(inFront(rig, target), 10000);
        QVERIFY(rig.backend.workspace->frontmostApplication()->windowClass().contains("xterm"));
        rig.hotkeys.startMonitoring();
        xdotool({"key", "alt+space"});
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        rig.recognizer.lastSession()->deliver("たんまつ", true);
        QTest::qWait(200);
        xdotool({"key", "alt+space"});
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("端末。"), 10000);
        QVERIFY2(target.keys().contains("Ctrl+Shift+V"), qPrintable(target.keys().join(',')));
    }

    void grabConflictIsReported()
    {
        OtherGrabber other;
        QVERIFY(other.grabAltSpace());
        X11Rig rig;
        QSignalSpy spy(&rig.hotkeys, &HotkeyManager::swallowConflict);
        rig.hotkeys.startMonitoring();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(rig.dictation.state().statusMessage(), QStringLiteral("⚠️ ショートカット Alt+Space は他のアプリが使用中です"));
    }
};

QTEST_MAIN(TestX11Desktop)
#include "tst_X11Desktop.moc"
