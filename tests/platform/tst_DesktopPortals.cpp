#include "platform/evdev/EvdevKeyboard.h"
#include "platform/portal/PortalGlobalShortcuts.h"
#include "platform/portal/PortalRemoteDesktop.h"
#include "platform/HeadlessDesktop.h"
#include "support/DictationRig.h"
#include "support/Outcome.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>

#include <linux/input.h>
#include <unistd.h>

using namespace vel;
using namespace vel::test;

Q_DECLARE_METATYPE(vel::ShortcutKey)
Q_DECLARE_METATYPE(vel::KeyChord)
Q_DECLARE_METATYPE(input_event)

namespace {
struct Call {
    QString member;
    QVariantList arguments;
};

// The desktop's portal, reduced to what a desktop answers and a record of
// what they were asked. Requests are answered through their Request object, at the path the
// caller's handle_token names, as xdg-desktop-portal does.
class FakeDesktopService final : public QDBusVirtualObject {
public:
    QList<Call> calls;
    uint version = 1;
    uint startResponse = 0;      // 1: the user declines the remote-desktop dialog; 99: nobody answers it
    uint bindResponse = 0;       // 2 with the shortcuts: GNOME 48 after the user added them
    QString restoreToken;        // what Start hands out
    QString boundTrigger = QStringLiteral("Meta+D"); // what the desktop binds the toggle to

    explicit FakeDesktopService(QDBusConnection bus) : m_bus(std::move(bus)) {}

    QString introspect(const QString&) const override { return {}; }

    QList<Call> named(const QString& member) const
    {
        QList<Call> out;
        for (const Call& c : calls)
            if (c.member == member)
                out.append(c);
        return out;
    }

    void emitSignal(const QString& path, const QString& interface, const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        calls.append({member, message.arguments()});
        if (member == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(version))));
            return true;
        }
        if (member == QLatin1String("Close") || member == QLatin1String("NotifyKeyboardKeysym")) {
            connection.send(message.createReply());
            return true;
        }
        // A portal request: the reply names the request, the answer comes as its Response.
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().last());
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        uint code = 0;
        QVariantMap results;
        if (member == QLatin1String("CreateSession")) {
            results.insert(QStringLiteral("session_handle"),
                           QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                               .arg(sender, options.value(QStringLiteral("session_handle_token")).toString()));
        } else if (member == QLatin1String("BindShortcuts")) {
            code = bindResponse;
            QList<PortalShortcut> bound;
            bound << PortalShortcut{DesktopShortcuts::kToggle, {{QStringLiteral("trigger_description"), boundTrigger}}}
                  << PortalShortcut{DesktopShortcuts::kCancel, {{QStringLiteral("trigger_description"), QString()}}};
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(bound));
        } else if (member == QLatin1String("Start")) {
            code = startResponse;
            if (code == 0)
                results.insert(QStringLiteral("devices"), 1u);
            if (code == 0 && !restoreToken.isEmpty())
                results.insert(QStringLiteral("restore_token"), restoreToken);
        }
        if (code == 99)
            return true;
        QDBusMessage response = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                           QStringLiteral("Response"));
        response << code << results;
        connection.send(response);
        return true;
    }

private:
    QDBusConnection m_bus;
};

// The keysyms sent, as "sym:down" pairs in order.
QStringList keysymsSent(const FakeDesktopService& service)
{
    QStringList out;
    for (const Call& c : service.named(QStringLiteral("NotifyKeyboardKeysym")))
        out << QStringLiteral("%1:%2").arg(c.arguments.at(2).toInt(), 0, 16).arg(c.arguments.at(3).toUInt());
    return out;
}

input_event keyEvent(quint16 code, qint32 value, int ms)
{
    input_event e{};
    e.input_event_sec = 100 + ms / 1000;
    e.input_event_usec = (ms % 1000) * 1000;
    e.type = EV_KEY;
    e.code = code;
    e.value = value;
    return e;
}

} // namespace

class TestDesktopPortals : public QObject {
    Q_OBJECT
    SystemClock realTime;

    PrivateBus m_bus;
    QString m_address;
    int m_connections = 0;

    // A fresh pair of connections: the desktop's, named as the service, and the program's;
    // both go with the test, so a failed one leaves no service behind for the next.
    struct Buses {
        QDBusConnection desktop;
        QDBusConnection app;
        std::unique_ptr<FakeDesktopService> service;
        ~Buses()
        {
            desktop.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
            QDBusConnection::disconnectFromBus(desktop.name());
            QDBusConnection::disconnectFromBus(app.name());
        }
    };
    std::unique_ptr<Buses> serve(const QString& service, FakeDesktopService*& fake)
    {
        const QString n = QString::number(++m_connections);
        auto buses = std::unique_ptr<Buses>(new Buses{QDBusConnection::connectToBus(m_address, QStringLiteral("desktop") + n),
                                                      QDBusConnection::connectToBus(m_address, QStringLiteral("app") + n), nullptr});
        buses->service = std::make_unique<FakeDesktopService>(buses->desktop);
        fake = buses->service.get();
        buses->desktop.registerVirtualObject(QStringLiteral("/"), fake, QDBusConnection::SubPath);
        if (!buses->desktop.registerService(service))
            qFatal("the test service's name is taken");
        return buses;
    }

private slots:
    void initTestCase()
    {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        m_address = m_bus.start();
        if (m_address.isEmpty())
            QSKIP("dbus-daemon is not installed");
    }

    void thePortalBindsTheShortcutsAndItsActivationDrivesTheDictation()
    {
        FakeDesktopService* portal = nullptr;
        auto buses = serve(QStringLiteral("org.freedesktop.portal.Desktop"), portal);
        portal->bindResponse = 2;
        DictationRig rig;
        PortalGlobalShortcuts shortcuts(rig.log, buses->app, 1);
        int triggerReports = 0;
        shortcuts.onTriggersChanged = [&] { ++triggerReports; };
        NoKeyboard keyboard;
        HotkeyManager hotkeys({rig.log, rig.clock, rig.settings, rig.dictation, keyboard, &shortcuts});
        hotkeys.startMonitoring();

        QTRY_COMPARE(portal->named("BindShortcuts").size(), 1);
        QTRY_COMPARE(triggerReports, 1);
        const QList<PortalShortcut> asked = qdbus_cast<QList<PortalShortcut>>(portal->named("BindShortcuts")[0].arguments.at(1));
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0].properties.value("preferred_trigger").toString(), QStringLiteral("ALT+space"));
        QVERIFY2(!asked[1].properties.contains("preferred_trigger"), "a plain Esc would be taken from every application");
        QCOMPARE(shortcuts.trigger(DesktopShortcuts::kToggle), QStringLiteral("Meta+D")); // what the desktop chose
        const QString session = qdbus_cast<QDBusObjectPath>(portal->named("BindShortcuts")[0].arguments.at(0)).path();

        auto activate = [&](const QString& id, const QString& onSession) {
            portal->emitSignal("/org/freedesktop/portal/desktop", "org.freedesktop.portal.GlobalShortcuts", "Activated",
                               {QVariant::fromValue(QDBusObjectPath(onSession)), id, qulonglong(1), QVariantMap()});
            QTest::qWait(100);
            rig.advance(0.1);
        };
        activate(DesktopShortcuts::kCancel, session);
        QVERIFY(!rig.dictation.isBusy());
        activate(DesktopShortcuts::kToggle, "/org/freedesktop/portal/desktop/session/other/app");
        QVERIFY2(!rig.speech.isRecording(), "another program's session");
        activate(DesktopShortcuts::kToggle, session);
        QVERIFY(rig.speech.isRecording());
        activate(DesktopShortcuts::kCancel, session);
        QVERIFY(!rig.speech.isRecording());
        QVERIFY(!rig.dictation.isBusy());

        // New keys: the old session goes and a new one is bound.
        rig.settings.setStartShortcut(ShortcutKey{'d', ShortcutKey::Ctrl | ShortcutKey::Shift});
        QTRY_COMPARE(portal->named("BindShortcuts").size(), 2);
        QVERIFY(!portal->named("Close").isEmpty());
        const QList<PortalShortcut> again = qdbus_cast<QList<PortalShortcut>>(portal->named("BindShortcuts")[1].arguments.at(1));
        QCOMPARE(again[0].properties.value("preferred_trigger").toString(), QStringLiteral("CTRL+SHIFT+d"));
    }

    void remoteDesktopTypesTheChordsAsKeysyms_data()
    {
        QTest::addColumn<KeyChord>("chord");
        QTest::addColumn<QStringList>("keysyms");
        QTest::newRow("Ctrl+V") << KeyChord{kKeysymV, ShortcutKey::Ctrl} << QStringList{"ffe3:1", "76:1", "76:0", "ffe3:0"};
        QTest::newRow("Ctrl+Shift+V (terminals)") << KeyChord{kKeysymV, ShortcutKey::Ctrl | ShortcutKey::Shift}
                                                  << QStringList{"ffe3:1", "ffe1:1", "76:1", "76:0", "ffe1:0", "ffe3:0"};
        QTest::newRow("Return") << KeyChord{kKeysymReturn, 0} << QStringList{"ff0d:1", "ff0d:0"};
    }
    void remoteDesktopTypesTheChordsAsKeysyms()
    {
        QFETCH(KeyChord, chord);
        QFETCH(QStringList, keysyms);
        FakeDesktopService* portal = nullptr;
        auto buses = serve(QStringLiteral("org.freedesktop.portal.Desktop"), portal);
        RecordingLogger log;
        PortalRemoteDesktop input(log, realTime, buses->app, 1, nullptr);
        QVERIFY(!input.isAllowed());
        const auto ready = awaited(input.prepare());
        QVERIFY(ready.result && ready.result->sent());
        QCOMPARE(qdbus_cast<QVariantMap>(portal->named("SelectDevices")[0].arguments.at(1)).value("types").toUInt(), 1u);
        const auto sent = awaited(input.sendKeyStroke(chord, nullptr));
        QVERIFY(sent.result->sent());
        QCOMPARE(keysymsSent(*portal), keysyms); // all of them answered before it says sent
    }

    void aGrantedSessionIsRestoredAtTheNextStart()
    {
        FakeDesktopService* portal = nullptr;
        auto buses = serve(QStringLiteral("org.freedesktop.portal.Desktop"), portal);
        portal->version = 2;
        portal->restoreToken = QStringLiteral("token-1");
        RecordingLogger log;
        MemoryStore store;
        for (int start = 0; start < 2; ++start) {
            PortalRemoteDesktop input(log, realTime, buses->app, 2, &store);
            const auto ready = awaited(input.prepare());
            QVERIFY(ready.result && ready.result->sent());
            portal->restoreToken = QStringLiteral("token-2");
        }
        const QList<Call> selected = portal->named("SelectDevices");
        QCOMPARE(selected.size(), 2);
        const QVariantMap first = qdbus_cast<QVariantMap>(selected[0].arguments.at(1));
        const QVariantMap second = qdbus_cast<QVariantMap>(selected[1].arguments.at(1));
        QCOMPARE(first.value("persist_mode").toUInt(), 2u);
        QVERIFY(!first.contains("restore_token"));
        QCOMPARE(second.value("restore_token").toString(), QStringLiteral("token-1"));
        QCOMPARE(store.value(PortalRemoteDesktop::kTokenKey).toString(), QStringLiteral("token-2")); // tokens are single-use
    }

    void aRefusedConsentLeavesTheTextOnTheClipboardAndSaysSo()
    {
        FakeDesktopService* portal = nullptr;
        auto buses = serve(QStringLiteral("org.freedesktop.portal.Desktop"), portal);
        portal->startResponse = 1;
        RecordingLogger log;
        ManualClock clock;
        FakePasteboard pasteboard;
        PortalRemoteDesktop input(log, realTime, buses->app, 1, nullptr);
        PasteService paste(log, clock, pasteboard, input);
        for (const QString& text : {QStringLiteral("一回目"), QStringLiteral("二回目")}) {
            const auto status = awaited(paste.copyAndPaste(text, nullptr));
            QVERIFY(!status.result->pasted);
            QCOMPARE(status.result->status,
                     "📋 コピー済み（Ctrl+Vでペースト）— " + PortalRemoteDesktop::kRefusedReason);
            QCOMPARE(pasteboard.texts.last(), text);
        }
        QCOMPARE(portal->named("Start").size(), 1); // declined once: not asked on every paste
        QVERIFY(keysymsSent(*portal).isEmpty());
    }

    // The user's cancel while the desktop's dialog waits: the request is closed, and the next
    // paste asks again, since that was no refusal.
    void aCancelWhileTheDesktopAsksClosesTheRequest()
    {
        FakeDesktopService* portal = nullptr;
        auto buses = serve(QStringLiteral("org.freedesktop.portal.Desktop"), portal);
        portal->startResponse = 99;
        RecordingLogger log;
        PortalRemoteDesktop input(log, realTime, buses->app, 1, nullptr);
        QObject owner;
        ValueOutcome<StrokeResult> ready;
        TaskHandle waiting = spawn(&owner, captureOutcome(input.prepare(), ready));
        QTRY_COMPARE(portal->named("Start").size(), 1);
        QTest::qWait(50);
        QVERIFY(!ready.done);
        waiting.cancel();
        QTRY_VERIFY(ready.done);
        QVERIFY(ready.result && !ready.result->sent());
        QTRY_VERIFY(!portal->named("Close").isEmpty());
        portal->startResponse = 0;
        const auto again = awaited(input.prepare());
        QVERIFY(again.result && again.result->sent());
        QCOMPARE(portal->named("Start").size(), 2);
    }

    // The kernel's stream of struct input_event, as /dev/input/event* delivers it, through a pipe.
    void evdevLoneModifiersDriveTheShortcutMatcher_data()
    {
        QTest::addColumn<QList<input_event>>("events");
        QTest::addColumn<int>("chunk"); // bytes per write: the reader must join split events
        QTest::addColumn<bool>("starts");
        const QList<input_event> tap{keyEvent(KEY_RIGHTCTRL, 1, 0), keyEvent(KEY_RIGHTCTRL, 2, 300), keyEvent(KEY_RIGHTCTRL, 0, 400)};
        QTest::newRow("a Right Ctrl tap") << tap << int(sizeof(input_event) * 3) << true;
        QTest::newRow("split across reads") << tap << 7 << true;
        QTest::newRow("Left Ctrl is not Right Ctrl")
            << QList<input_event>{keyEvent(KEY_LEFTCTRL, 1, 0), keyEvent(KEY_LEFTCTRL, 0, 100)} << 64 << false;
        QTest::newRow("letters are not reported")
            << QList<input_event>{keyEvent(KEY_A, 1, 0), keyEvent(KEY_A, 0, 100)} << 64 << false;
    }
    void evdevLoneModifiersDriveTheShortcutMatcher()
    {
        QFETCH(QList<input_event>, events);
        QFETCH(int, chunk);
        QFETCH(bool, starts);
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        DictationRig rig;
        rig.settings.setStartShortcut(ShortcutKey{0xffe4, 0});
        EvdevKeyboard keyboard({fds[0]});
        HotkeyManager hotkeys({rig.log, rig.clock, rig.settings, rig.dictation, keyboard});
        hotkeys.startMonitoring();
        QByteArray bytes;
        for (const input_event& e : events)
            bytes.append(reinterpret_cast<const char*>(&e), sizeof e);
        for (qsizetype at = 0; at < bytes.size(); at += chunk) {
            const qsizetype n = std::min<qsizetype>(chunk, bytes.size() - at);
            QCOMPARE(::write(fds[1], bytes.constData() + at, static_cast<size_t>(n)), static_cast<ssize_t>(n));
            QTest::qWait(5);
        }
        QTest::qWait(50);
        rig.advance(0.1);
        QCOMPARE(rig.speech.isRecording(), starts);
        QVERIFY2(!keyboard.isKeyDown(62), "released at the end");
        ::close(fds[1]);
    }
};

QTEST_GUILESS_MAIN(TestDesktopPortals)
#include "tst_DesktopPortals.moc"
