#include "DesktopScenarios.h"
#include "OtherGrabber.h"

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

// X11 with openbox: the program's own key grab (XInput2 and a passive grab) and XTEST.
class TestX11Desktop : public DesktopScenarios {
    Q_OBJECT
protected:
    QString platform() const override { return QStringLiteral("xcb"); }
    QString cannotShowALayerShellPanel() const override { return QStringLiteral("on X11 the panel is a Qt window (tst_DesktopShell)"); }
    void prepare(DesktopRig& rig) override { rig.hotkeys.startMonitoring(); }
    void pressToggle(DesktopRig&) override { xdotool({"key", "alt+space"}); }
    void pressCancel(DesktopRig&) override { xdotool({"key", "Escape"}); }
    Window openTerminal(const QString& dir) override { return openEditor(dir, QStringLiteral("xterm")); }
    bool cancelKeyReaches(DesktopRig&, const Window& window) override
    {
        return escapeArrives(window, [] { xdotool({"key", "Escape"}); });
    }

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

    void loneRightControlTogglesOnce()
    {
        X11Rig rig;
        rig.settings.setStartShortcut(ShortcutKey{0xffe4, 0});
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
