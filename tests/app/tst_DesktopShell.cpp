#include "common/Logger.h"
#include "dictation/Dictation.h"
#include "app/VelutanoraApp.h"
#include "support/ProgramRunner.h"
#include "support/DictationRig.h"
#include "ui/RecordingPanel.h"
#include "ui/RecordingPanelController.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>

using namespace vel;
using namespace vel::test;

class TestDesktopShell : public QObject {
    Q_OBJECT

    QTemporaryDir home;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (scripts/test starts Xvfb, openbox and trayer)");
        // A store of its own; the model is never fetched from outside.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
        QVERIFY(seedStore(home.path() + "/config", {{"recognizer_model_url", "http://127.0.0.1:9/model.zip"},
                                                    {"recognizer_model_dir", home.path() + "/data/model"}}));
    }

    void trayIconAppearsAndThePanelTakesNoFocus()
    {
        RecordingLogger log;
        VelutanoraApp app(log);
        app.launch(true);
        QVERIFY(!app.window());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 5000);
        QVERIFY(app.tray()->isVisible());
        QCOMPARE(app.menuBarIconName(), QStringLiteral("mic"));
        QProcess editor;
        editor.start(QStringLiteral(TARGET_EDITOR), {"--out", home.path() + "/target.txt"});
        QVERIFY(editor.waitForStarted());
        // New windows get the focus from openbox; should an earlier test's state keep it elsewhere,
        // the editor is activated as a user would click it.
        QTest::qWait(1500);
        QProcess::execute("xdotool", {"search", "--sync", "--pid", QString::number(editor.processId()), "windowactivate"});
        QTRY_VERIFY_WITH_TIMEOUT(app.dictation().workspaceMonitor().lastExternalApp()
                                     && app.dictation().workspaceMonitor().lastExternalApp()->processId() == editor.processId(),
                                 10000);
        app.panelController().show();
        QVERIFY(app.panelController().isPanelVisible());
        QVERIFY(QTest::qWaitForWindowExposed(app.panelController().panel())); // mapped by the window manager
        QTest::qWait(500);
        const ApplicationRef front = app.dictation().workspaceMonitor().lastExternalApp();
        QVERIFY(front->isActive());
        QVERIFY2(!QApplication::activeWindow(), "the panel never becomes the active window");

        // The newest result goes again into the application in front.
        const auto repasteAction = [&] {
            emit app.menu()->aboutToShow();
            for (QAction* a : app.menu()->actions())
                if (a->text() == QStringLiteral("最後の結果をもう一度ペースト"))
                    return a;
            return static_cast<QAction*>(nullptr);
        };
        QVERIFY(!repasteAction()->isEnabled());
        app.history().add(app.history().makeEntry(QStringLiteral("もう一度どうぞ。"), {}));
        QAction* repaste = repasteAction();
        QVERIFY(repaste->isEnabled());
        repaste->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readFile(home.path() + "/target.txt")), QStringLiteral("もう一度どうぞ。"), 10000);

        // "設定を開く" opens the window even after it was closed.
        app.openSettings();
        QTRY_VERIFY(app.window() && app.window()->isVisible());
        app.window()->close();
        QVERIFY(!app.window()->isVisible());
        app.handleCommand(QStringLiteral("show"));
        QTRY_VERIFY(app.window()->isVisible());
        editor.kill();
        editor.waitForFinished();
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_DesktopShell.moc"
