#include "platform/DesktopNotifier.h"

#include "common/Logger.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace vel {

DesktopNotifier::DesktopNotifier(Logger& log, QDBusConnection bus, std::function<void(const QString&)> fallback,
                                 QObject* parent)
    : QObject(parent), m_log(log), m_bus(std::move(bus)), m_fallback(std::move(fallback))
{
}

void DesktopNotifier::notify(const QString& text)
{
    if (!m_bus.isConnected()) {
        if (m_fallback)
            m_fallback(text);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    call << QStringLiteral("Velutanora") << m_lastId << QStringLiteral("velutanora") << QStringLiteral("Velutanora")
         << text << QStringList() << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}}
         << kTimeoutMs;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, text](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (!reply.isError()) {
            m_lastId = reply.value();
            return;
        }
        m_log.line(QStringLiteral("🔔 [notify] no notification service (%1); using the tray").arg(reply.error().name()));
        if (m_fallback)
            m_fallback(text);
    });
}

} // namespace vel
