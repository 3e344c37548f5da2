#include "platform/kde/KGlobalAccelShortcuts.h"
#include "DesktopScenarios.h"
#include "support/Outcome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
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
class TestKdeDesktop : public DesktopScenarios {
    Q_OBJECT

protected:
    // KWin's own kglobalaccel binds the keys (Plasma 5.27's portal binds nothing for a program that
    // is not sandboxed); KWin's invokeShortcut is what a press of them does.
    void prepare(DesktopRig& rig) override
    {
        rig.hotkeys.startMonitoring();
        QTRY_COMPARE_WITH_TIMEOUT(rig.backend.shortcuts->trigger(DesktopShortcuts::kToggle), QStringLiteral("Alt+Space"), 10000);
        QCOMPARE(rig.backend.shortcuts->mechanism(), QStringLiteral("KGlobalAccel"));
    }
    void pressToggle(DesktopRig&) override { QVERIFY(invokeShortcut(DesktopShortcuts::kToggle)); }
    void pressCancel(DesktopRig&) override
    {
        QTRY_COMPARE_WITH_TIMEOUT(heldKeys(DesktopShortcuts::kCancel), QList<int>{Qt::Key_Escape}, 5000);
        QVERIFY(invokeShortcut(DesktopShortcuts::kCancel));
    }
    // No key can be typed here (KWin gives no virtual keyboard to clients): the key is free when
    // kglobalaccel holds none for the cancel action.
    bool cancelKeyReaches(DesktopRig&, const Window&) override { return heldKeys(DesktopShortcuts::kCancel).isEmpty(); }
    // KWin tells no ordinary client which window is in front: its focus is what the editor saw.
    bool isInFront(DesktopRig&, const Window& window) override { return readFile(window.out + ".focus").endsWith("in\n"); }
    QString cannotTellTerminals() const override { return QStringLiteral("KWin does not say which window is in front"); }
    QString cannotBringTheTargetBack() const override { return cannotTellTerminals(); }
    QString cannotPaste() const override
    {
        return hasPortal() ? QString() : QStringLiteral("xdg-desktop-portal-kde is not installed");
    }
    std::optional<QString> clipboardText() override { return waylandClipboard(); }

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
        QCOMPARE(awaited(rig.backend.pasteboard->setText(QStringLiteral("KDEでも日本語がそのまま届く。"))).result, std::optional<QString>(QString()));
        QCOMPARE(waylandClipboard(), QStringLiteral("KDEでも日本語がそのまま届く。"));
    }

};

QTEST_MAIN(TestKdeDesktop)
#include "tst_KdeDesktop.moc"
