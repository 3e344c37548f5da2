#include "common/Clock.h"
#include "dictation/WorkspaceMonitor.h"
#include "support/FakeWorkspace.h"

#include <QTest>

using namespace vel;
using namespace vel::test;

class TestWorkspaceMonitor : public QObject {
    Q_OBJECT
private slots:
    void launchedInFrontLeavesNoExternalApp()
    {
        FakeWorkspace ws;
        ws.frontmost = FakeWorkspace::app(FakeWorkspace::kOwnPid);
        WorkspaceMonitor m(ws);
        m.startTracking();
        QVERIFY(!m.lastExternalApp());
        m.chooseTarget(nullptr);
        QVERIFY2(!m.targetApp(), "with no other application ever active the target is none");
    }

    void followsActivationsButNotItself()
    {
        FakeWorkspace ws;
        auto editor = FakeWorkspace::app(100);
        ws.frontmost = editor;
        WorkspaceMonitor m(ws);
        m.startTracking();
        QCOMPARE(m.lastExternalApp(), ApplicationRef(editor));
        auto browser = FakeWorkspace::app(200);
        ws.activateApplication(browser);
        QCOMPARE(m.lastExternalApp(), ApplicationRef(editor)); // lands after the current code
        ManualClock::drainPostedWork();
        QCOMPARE(m.lastExternalApp(), ApplicationRef(browser));
        ws.activateApplication(FakeWorkspace::app(FakeWorkspace::kOwnPid)); // our settings window
        ManualClock::drainPostedWork();
        QCOMPARE(m.lastExternalApp(), ApplicationRef(browser));
    }

    void targetRule_data()
    {
        QTest::addColumn<int>("frontmostPid");
        QTest::addColumn<int>("expectedPid");
        QTest::newRow("another application") << 300 << 300;
        QTest::newRow("this program: the last external one") << int(FakeWorkspace::kOwnPid) << 100;
        QTest::newRow("none: the last external one") << 0 << 100;
    }
    void targetRule()
    {
        QFETCH(int, frontmostPid);
        QFETCH(int, expectedPid);
        FakeWorkspace ws;
        ws.frontmost = FakeWorkspace::app(100);
        WorkspaceMonitor m(ws);
        m.startTracking();
        m.chooseTarget(frontmostPid ? FakeWorkspace::app(frontmostPid) : nullptr);
        QCOMPARE(m.targetApp()->processId(), expectedPid);
    }

    void targetStaysWhileTheUserSwitches()
    {
        FakeWorkspace ws;
        WorkspaceMonitor m(ws);
        m.startTracking();
        auto editor = FakeWorkspace::app(100);
        m.chooseTarget(editor);
        ws.activateApplication(FakeWorkspace::app(200));
        ManualClock::drainPostedWork();
        QCOMPARE(m.targetApp(), ApplicationRef(editor));
        QCOMPARE(m.lastExternalApp()->processId(), 200);
    }

};

QTEST_GUILESS_MAIN(TestWorkspaceMonitor)
#include "tst_WorkspaceMonitor.moc"
