#include "platform/DesktopNotifier.h"
#include "support/DictationRig.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QTest>
#include <QVariantMap>

using namespace vel;
using namespace vel::test;

namespace {

// The notification service of a desktop, reduced to recording what it was sent.
class NotificationService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app;
        uint replaces;
        QString body;
        int timeout;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& /*icon*/, const QString& /*summary*/, const QString& body,
                const QStringList& /*actions*/, const QVariantMap& /*hints*/, int timeout)
    {
        calls.append({app, replaces, body, timeout});
        return 41 + static_cast<uint>(calls.size());
    }
};

} // namespace

class TestDesktopNotifier : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    QString m_address;

private slots:
    void initTestCase()
    {
        m_address = m_bus.start();
        if (m_address.isEmpty())
            QSKIP("dbus-daemon is not installed");
    }

    void theDesktopServiceShowsEachNoticeInPlaceOfTheLast()
    {
        QDBusConnection desktop = QDBusConnection::connectToBus(m_address, QStringLiteral("desktop"));
        NotificationService service;
        QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));

        RecordingLogger log;
        QStringList fallback;
        DesktopNotifier notifier(log, QDBusConnection::connectToBus(m_address, QStringLiteral("app")),
                                 [&](const QString& text) { fallback.append(text); });
        notifier.notify(QStringLiteral("⚠️ マイクがありません"));
        QTRY_COMPARE(service.calls.size(), 1);
        QCOMPARE(service.calls[0].app, QStringLiteral("Velutanora"));
        QCOMPARE(service.calls[0].body, QStringLiteral("⚠️ マイクがありません"));
        QCOMPARE(service.calls[0].replaces, 0u);
        QCOMPARE(service.calls[0].timeout, DesktopNotifier::kTimeoutMs);
        QTest::qWait(500); // the reply that carries the notice's id
        notifier.notify(QStringLiteral("⚠️ Gemini: APIキーが無効です (401)"));
        QTRY_COMPARE(service.calls.size(), 2);
        QCOMPARE(service.calls[1].replaces, 42u);
        QVERIFY(fallback.isEmpty());

        desktop.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
    }

    void withoutAServiceTheFallbackShowsIt_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("a bus without the service") << true;
        QTest::newRow("no bus") << false;
    }
    void withoutAServiceTheFallbackShowsIt()
    {
        QFETCH(bool, connected);
        RecordingLogger log;
        QStringList fallback;
        const QString address = connected ? m_address : QStringLiteral("unix:path=/nonexistent/bus");
        DesktopNotifier notifier(log, QDBusConnection::connectToBus(address, QStringLiteral("lonely")),
                                 [&](const QString& text) { fallback.append(text); });
        notifier.notify(QStringLiteral("⚠️ マイクがありません"));
        QTRY_COMPARE(fallback, QStringList{"⚠️ マイクがありません"});
        QDBusConnection::disconnectFromBus(QStringLiteral("lonely"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_DesktopNotifier.moc"
