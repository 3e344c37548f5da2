#include "platform/kde/KGlobalAccelShortcuts.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandPanelSurface.h"
#include "support/DesktopRig.h"
#include "support/FakeGeminiServer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

// xdg-desktop-portal-kde is installed: the bus starts the portal on demand.
bool hasPortal()
{
    return QDBusConnection::sessionBus().interface()->activatableServiceNames().value().contains(
        QStringLiteral("org.freedesktop.portal.Desktop"));
}

// What KWin does when the user presses the program's global shortcut.
bool invokeShortcut(const QString& action)
{
    QDBusMessage call = QDBusMessage::createMethodCall(KGlobalAccelShortcuts::kService, QStringLiteral("/component/velutanora"),
                                                       QStringLiteral("org.kde.kglobalaccel.Component"),
                                                       QStringLiteral("invokeShortcut"));
    call << action << QStringLiteral("default");
    return QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000).type() != QDBusMessage::ErrorMessage;
}

// The keys KWin's kglobalaccel holds for one of the program's actions.
QList<int> heldKeys(const QString& action)
{
    QDBusMessage call = QDBusMessage::createMethodCall(KGlobalAccelShortcuts::kService, QStringLiteral("/kglobalaccel"),
                                                       QStringLiteral("org.kde.KGlobalAccel"), QStringLiteral("shortcut"));
    call << QStringList{KGlobalAccelShortcuts::kComponent, action, QStringLiteral("Velutanora"), action};
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
    return reply.arguments().isEmpty() ? QList<int>{-1} : qdbus_cast<QList<int>>(reply.arguments().first());
}

const DesktopCapability* capability(const DesktopBackend& backend, const QString& name)
{
    for (const DesktopCapability& c : backend.capabilities)
        if (c.name == name)
            return &c;
    return nullptr;
}

} // namespace

// Under a real headless KWin (tests/platform/run-under-kwin): what the backend finds on
// KDE Plasma, and that what it chose works there.
class TestKdeDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("wayland")
            || !qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE")))
            QSKIP("needs KWin (run-under-kwin starts one where kwin_wayland is installed)");
    }

    void theBackendFindsWhatKdeOffers()
    {
        DesktopRig rig;
        QVERIFY2(!rig.backend.shortcutsBoundByDesktop, "KDE binds them itself: no compositor lines");
        QVERIFY(rig.backend.shortcuts);
        QCOMPARE(rig.backend.shortcuts->mechanism(),
                 hasPortal() ? QStringLiteral("GlobalShortcuts portal v1") : QStringLiteral("KGlobalAccel"));
        QVERIFY2(rig.backend.panelKeepsFocusAway, "KWin offers layer-shell");
        // No virtual keyboard for ordinary clients: paste is the portal's, or said to be unavailable.
        const DesktopCapability* paste = capability(rig.backend, QStringLiteral("ペースト"));
        QVERIFY(paste);
        QCOMPARE(paste->works, hasPortal());
        QVERIFY(!rig.backend.input->isAllowed());
        QCOMPARE(rig.backend.capabilities.size(), 4);
    }

    void theClipboardIsSetWithoutAWindowThroughDataControl()
    {
        DesktopRig rig;
        rig.backend.pasteboard->setText(QStringLiteral("KDEでも日本語がそのまま届く。"));
        QCOMPARE(waylandClipboard(), QStringLiteral("KDEでも日本語がそのまま届く。"));
    }

    // KWin's own kglobalaccel: the stored key is bound, its shortcut starts and ends a dictation, and
    // the cancel key is held only while a dictation runs.
    void kwinsGlobalShortcutDrivesTheDictation()
    {
        DesktopRig rig;
        rig.hotkeys.startMonitoring();
        // Plasma 5.27's portal binds nothing for a program that is not sandboxed: KGlobalAccel takes over.
        QTRY_COMPARE_WITH_TIMEOUT(rig.backend.shortcuts->trigger(DesktopShortcuts::kToggle), QStringLiteral("Alt+Space"), 10000);
        QCOMPARE(rig.backend.shortcuts->mechanism(), QStringLiteral("KGlobalAccel"));
        QTRY_COMPARE_WITH_TIMEOUT(heldKeys(DesktopShortcuts::kCancel), QList<int>(), 5000);
        QVERIFY(invokeShortcut(DesktopShortcuts::kToggle));
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(heldKeys(DesktopShortcuts::kCancel), QList<int>{Qt::Key_Escape}, 5000);
        QVERIFY(invokeShortcut(DesktopShortcuts::kCancel));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.dictation.isBusy(), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(heldKeys(DesktopShortcuts::kCancel).isEmpty(), "Esc goes back to the applications when idle", 5000);
    }

    // The whole dictation on KDE: KWin's global shortcut starts and stops it, Gemini answers, and
    // the answer is pasted through KDE's RemoteDesktop portal (Ctrl+V as keysyms) into the
    // application in front. Plasma 5.27's portal grants a keyboard-only session without asking.
    void aDictationIsPastedThroughKdesPortal()
    {
        if (!hasPortal())
            QSKIP("xdg-desktop-portal-kde is not installed");
        DesktopRig rig;
        Target target(rig.dir.path(), "wayland");
        QTRY_VERIFY_WITH_TIMEOUT(readFile(target.out + ".focus").endsWith("in\n"), 10000);
        rig.hotkeys.startMonitoring();
        QTRY_COMPARE_WITH_TIMEOUT(rig.backend.shortcuts->trigger(DesktopShortcuts::kToggle), QStringLiteral("Alt+Space"), 10000);
        rig.server.enqueue(FakeReply::answer("KDEで届きました"));
        QVERIFY(invokeShortcut(DesktopShortcuts::kToggle));
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        rig.recognizer.lastSession()->deliver(QStringLiteral("けーでぃーいー"), true);
        QTest::qWait(200);
        QVERIFY(invokeShortcut(DesktopShortcuts::kToggle));
        QTRY_VERIFY2_WITH_TIMEOUT(target.text() == QStringLiteral("KDEで届きました。"), qPrintable(rig.log.lines().join(QLatin1Char(10))), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.dictation.state().statusMessage(), QStringLiteral("📋 ペーストしました"), 5000);
        QVERIFY2(target.keys().contains("Ctrl+V"), qPrintable(target.keys().join(',')));
        QVERIFY2(readFile(target.out + ".focus").endsWith("in\n"), "the target kept the focus");
        QTRY_VERIFY2_WITH_TIMEOUT(heldKeys(DesktopShortcuts::kCancel).isEmpty(), "Esc is free again after a dictation", 5000);
    }

    // The panel is a layer-shell overlay: it is drawn, and the application in front keeps the keyboard.
    void thePanelLeavesTheFocusWithTheTarget()
    {
        DesktopRig rig;
        Target target(rig.dir.path(), "wayland");
        const QString focus = target.out + ".focus";
        QTRY_VERIFY_WITH_TIMEOUT(readFile(focus).endsWith("in\n"), 10000);
        WaylandPanelSurface panel(*rig.backend.wayland, QSize(280, 80), 80);
        panel.paint = [](QPainter& painter) { painter.fillRect(0, 0, 280, 80, QColor(30, 30, 30, 200)); };
        panel.show();
        QTRY_VERIFY_WITH_TIMEOUT(panel.framesShown() >= 5, 5000);
        QTest::qWait(300);
        QVERIFY2(readFile(focus).endsWith("in\n"), readFile(focus).constData());
        panel.hide();
    }
};

QTEST_MAIN(TestKdeDesktop)
#include "tst_KdeDesktop.moc"
