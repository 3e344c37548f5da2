#include "platform/wayland/CompositorBindings.h"
#include "platform/gnome/GnomeShellExtension.h"
#include "platform/gnome/MutterRemoteDesktop.h"
#include "settings/JsonFileStore.h"
#include "DesktopScenarios.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

constexpr quint32 kEscape = 0xff1b;
constexpr quint32 kControl = 0xffe3;
constexpr quint32 kAlt = 0xffe9;
constexpr quint32 kSpace = 0x20;
const ShortcutKey kToggleChord{kSpace, ShortcutKey::Ctrl | ShortcutKey::Alt};

QDBusMessage shellCall(const QString& interface, const QString& path, const QString& method, const QVariantList& args)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"), path, interface, method);
    call.setArguments(args);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}

bool setExtensionEnabled(bool enabled)
{
    const QDBusMessage reply = shellCall(QStringLiteral("org.gnome.Shell.Extensions"), QStringLiteral("/org/gnome/Shell"),
                                         enabled ? QStringLiteral("EnableExtension") : QStringLiteral("DisableExtension"),
                                         {GnomeShellExtension::probe(QDBusConnection::sessionBus()).uuid});
    return reply.type() == QDBusMessage::ReplyMessage;
}

// The user's hands: a keyboard of mutter's remote-desktop API, kept for the whole test, so keys
// come through the compositor as a person's would, from outside the program's own code.
class StandInKeyboard {
public:
    StandInKeyboard()
    {
        const QDBusMessage created = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(MutterRemoteDesktop::kService, "/org/gnome/Mutter/RemoteDesktop",
                                           "org.gnome.Mutter.RemoteDesktop", "CreateSession"),
            QDBus::Block, 5000);
        if (created.arguments().isEmpty())
            return;
        m_session = qdbus_cast<QDBusObjectPath>(created.arguments().first()).path();
        call("Start", {});
        press({0xffe1}); // the first key of a new device can be lost
    }
    ~StandInKeyboard()
    {
        if (!m_session.isEmpty())
            call("Stop", {});
    }
    bool isReady() const { return !m_session.isEmpty(); }
    void press(const QList<quint32>& keys)
    {
        for (quint32 key : keys)
            call("NotifyKeyboardKeysym", {key, true});
        for (auto it = keys.rbegin(); it != keys.rend(); ++it)
            call("NotifyKeyboardKeysym", {*it, false});
        QTest::qWait(100);
    }

private:
    void call(const char* method, const QVariantList& args)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(MutterRemoteDesktop::kService, m_session,
                                                        "org.gnome.Mutter.RemoteDesktop.Session", method);
        m.setArguments(args);
        QDBusConnection::sessionBus().call(m, QDBus::Block, 5000);
    }
    QString m_session;
};

// A terminal whose shell writes what is typed (or pasted) into it to a file, byte for byte.
Window openFoot(const QString& dir)
{
    auto process = std::make_shared<QProcess>();
    const QString out = dir + "/terminal.txt";
    process->start(QStringLiteral("foot"), {"--app-id=foot", "sh", "-c", QStringLiteral("stty -icanon -echo; cat > '%1'").arg(out)});
    process->waitForStarted();
    std::shared_ptr<void> owner(process.get(), [process](void*) {
        process->kill();
        process->waitForFinished();
    });
    return Window{QStringLiteral("foot"), out, false, owner};
}

} // namespace

// Under a real headless GNOME Shell (tests/platform/run-under-gnome, with the program's
// extension enabled before the shell started): GNOME, the desktop most people run.
class TestGnomeDesktop : public DesktopScenarios {
    Q_OBJECT

protected:
    // The extension grabs the shortcut in the shell; the keys come from mutter's remote desktop.
    void prepare(DesktopRig& rig) override
    {
        QVERIFY(rig.backend.gnomeShell);
        QCOMPARE(rig.backend.shortcuts->mechanism(), QStringLiteral("GNOME Shell 拡張機能"));
        rig.settings.setStartShortcut(kToggleChord);
        rig.hotkeys.startMonitoring();
        QTRY_COMPARE_WITH_TIMEOUT(rig.backend.shortcuts->trigger(DesktopShortcuts::kToggle), kToggleChord.label(), 5000);
    }
    void pressToggle(DesktopRig&) override { m_keyboard.press({kControl, kAlt, kSpace}); }
    void pressCancel(DesktopRig&) override { m_keyboard.press({kEscape}); }
    Window openTerminal(const QString& dir) override { return openFoot(dir); }
    QString cannotShowALayerShellPanel() const override { return QStringLiteral("mutter has no layer shell"); }
    bool cancelKeyReaches(DesktopRig&, const Window& window) override
    {
        return escapeArrives(window, [this] { m_keyboard.press({kEscape}); });
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("wayland")
            || !qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("GNOME")))
            QSKIP("needs GNOME Shell (run-under-gnome starts one where gnome-shell is installed)");
        QTRY_COMPARE_WITH_TIMEOUT(GnomeShellExtension::probe(QDBusConnection::sessionBus()).state,
                                  GnomeShellExtension::State::Active, 10000);
        QVERIFY(m_keyboard.isReady());
        m_keyboard.press({kEscape}); // the shell starts in the overview
    }
    // The extension answers the owner of the program's bus name alone (this test, as the
    // scenarios' rigs took it): a stranger's every call is refused, and it hears no focus change.
    void aStrangerOnTheBusIsRefused()
    {
        GnomeShellExtension mine(m_log, QDBusConnection::sessionBus());
        QDBusConnection stranger = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stranger"));
        const auto farewell = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("stranger")); });
        const QList<std::pair<QString, QVariantList>> calls{
            {"SetClipboard", {QStringLiteral("盗み見")}}, {"PressChord", {QStringLiteral("return")}},
            {"FocusedWindow", {}}, {"ActivateWindow", {QVariant::fromValue<quint64>(1)}},
            {"Grab", {QStringLiteral("toggle"), QStringLiteral("<Super>F10")}}, {"Ungrab", {QStringLiteral("toggle")}}};
        for (const auto& [method, args] : calls) {
            QDBusMessage call = QDBusMessage::createMethodCall(GnomeShellExtension::kService, GnomeShellExtension::kPath,
                                                               GnomeShellExtension::kInterface, method);
            call.setArguments(args);
            const QDBusMessage reply = stranger.call(call, QDBus::Block, 5000);
            QVERIFY2(reply.errorName().endsWith(".AccessDenied"), qPrintable(method + ": " + reply.errorName()));
        }
        GnomeShellExtension overheard(m_log, stranger);
        int heard = 0;
        connect(&overheard, &GnomeShellExtension::focusChanged, this, [&] { ++heard; });
        QTemporaryDir dir;
        Target editor(dir.path(), "wayland", QStringLiteral("focus_editor"));
        QTRY_VERIFY_WITH_TIMEOUT(mine.focusedWindow().value("wm-class").toString().contains("focus_editor"), 10000);
        QVERIFY(!mine.focusedWindow().contains("title"));
        QTest::qWait(200);
        QCOMPARE(heard, 0);
        // Keys that applications use are never taken from them.
        QVERIFY(mine.grab(DesktopShortcuts::kToggle, "<Control>c").contains("applications use"));
        QVERIFY(mine.grab(DesktopShortcuts::kToggle, "Escape").contains("taken from typing"));
        QCOMPARE(mine.grab(DesktopShortcuts::kCancel, "Escape"), QString());
        mine.ungrab(DesktopShortcuts::kCancel);
    }

    // A killed program keeps no key: the connection queued behind it gets the name, not the grabs.
    void aKilledProgramLeavesNoGrab()
    {
        const QString program = qEnvironmentVariable("VELUTANORA_PROGRAM");
        QVERIFY(!program.isEmpty());
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.interface()->unregisterService(GnomeShellExtension::kProgramName);
        QTemporaryDir home;
        {
            RecordingLogger log;
            JsonFileStore store(home.path() + "/config/velutanora/defaults.json", log);
            AppSettings settings(store);
            settings.setStartShortcut(ShortcutKey{0xffc6, ShortcutKey::Super}); // Super+F9
        }
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_STATE_HOME", home.path() + "/state");
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(program, {"--autostart"});
        QVERIFY(app.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += app.readAll()).contains("grabbed toggle <Super>F9"), 15000);
        GnomeShellExtension mine(m_log, bus);
        QVERIFY(mine.grab(DesktopShortcuts::kToggle, "<Super>F9").contains("only the owner"));
        app.kill();
        app.waitForFinished();
        QTRY_COMPARE_WITH_TIMEOUT(mine.grab(DesktopShortcuts::kToggle, "<Super>F9"), QString(), 5000);
        QCOMPARE(mine.grab(DesktopShortcuts::kToggle, "<Alt>space"), GnomeShellExtension::kTaken); // the window menu's
        mine.ungrab(DesktopShortcuts::kToggle);
    }

    // Before the extension is loaded: mutter's remote-desktop API sets the clipboard and presses
    // the chord, and the dictation (from --toggle, as a custom shortcut runs it) lands in front.
    void withoutTheExtensionMutterPastes()
    {
        QVERIFY(setExtensionEnabled(false));
        QTRY_VERIFY_WITH_TIMEOUT(GnomeShellExtension::probe(QDBusConnection::sessionBus()).state
                                     == GnomeShellExtension::State::Disabled, 5000);
        {
            DesktopRig rig;
            QVERIFY(!rig.backend.gnomeShell);
            QVERIFY(rig.backend.input->isAllowed());
            // With xdg-desktop-portal-kde installed, a GlobalShortcuts portal answers here that opens no session.
            QVERIFY2(rig.backend.shortcutsBoundByDesktop, "GNOME's custom shortcuts, not another desktop's portal");
            Target editor(rig.dir.path(), "wayland", QStringLiteral("target_editor"));
            QTRY_VERIFY_WITH_TIMEOUT(readFile(editor.out + ".focus").endsWith("in\n"), 10000);
            rig.server.enqueue(FakeReply::answer("拡張なしでも届きました"));
            rig.dictation.toggle(nullptr);
            QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
            rig.recognizer.lastSession()->deliver(QStringLiteral("かくちょうなし"), true);
            QTest::qWait(200);
            rig.dictation.toggle(nullptr);
            QTRY_VERIFY2_WITH_TIMEOUT(editor.text() == QStringLiteral("拡張なしでも届きました。"),
                                      qPrintable(rig.log.lines().join('\n')), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(rig.dictation.state().statusMessage(), PasteService::kPastedStatus, 5000);
            QVERIFY2(readFile(editor.out + ".focus").endsWith("in\n"), "the target kept the focus");
            // The session is closed by now; the text stays on the clipboard for a paste by hand.
            QTest::qWait(static_cast<int>(MutterRemoteDesktop::kLingerSeconds * 1000) + 1000);
            m_keyboard.press({kControl, 0x76});
            QTRY_COMPARE_WITH_TIMEOUT(editor.text(), QStringLiteral("拡張なしでも届きました。拡張なしでも届きました。"), 5000);
        }
        QVERIFY(setExtensionEnabled(true));
    }

    // GNOME's custom shortcuts, as the settings window writes them: never over a key GNOME holds,
    // and a free one runs the program's command once gsd-media-keys grabs it.
    void customShortcutsRunTheProgramOnAFreeChord()
    {
        const QString gsd = QStringLiteral("/usr/libexec/gsd-media-keys");
        if (!QFile::exists(gsd))
            QSKIP("gnome-settings-daemon is not installed");
        QVERIFY(setExtensionEnabled(false));
        QTemporaryDir dir;
        const QString ran = dir.path() + "/ran";
        const QString program = dir.path() + "/velutanora stand-in";
        QVERIFY(!writeFile(program, QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(ran).toUtf8(), true).isEmpty());
        const ShortcutKey cancel = ShortcutKey::defaultCancel(); // Esc alone is never written

        const QString refused = CompositorBindings::installInGnome(ShortcutKey::defaultStart(), cancel, program);
        QVERIFY2(refused.contains(QStringLiteral("activate-window-menu")) && refused.contains(kToggleChord.label()), qPrintable(refused));
        QCOMPARE(CompositorBindings::installInGnome(kToggleChord, cancel, program), QString());
        QProcess daemon;
        daemon.start(gsd, QStringList());
        QVERIFY(daemon.waitForStarted());
        for (int i = 0; i < 40 && !QFile::exists(ran); ++i) { // until gsd has grabbed it
            m_keyboard.press({kControl, kAlt, kSpace});
            QTest::qWait(250);
        }
        QTRY_VERIFY_WITH_TIMEOUT(readFile(ran).startsWith("--toggle"), 5000);
        daemon.kill();
        daemon.waitForFinished();
        QProcess::execute(QStringLiteral("gsettings"), {"reset", "org.gnome.settings-daemon.plugins.media-keys", "custom-keybindings"});
        QVERIFY(setExtensionEnabled(true));
    }

private:
    RecordingLogger m_log;
    StandInKeyboard m_keyboard;
};

QTEST_MAIN(TestGnomeDesktop)
#include "tst_GnomeDesktop.moc"
