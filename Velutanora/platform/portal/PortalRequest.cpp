#include "platform/portal/PortalRequest.h"

#include "common/Logger.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QObject>

#include <memory>

namespace vel {

namespace {

class ResponseListener final : public QObject {
    Q_OBJECT
public:
    ResponseListener(QDBusConnection bus, Completion<PortalResponse> done) : m_bus(std::move(bus)), m_done(std::move(done)) {}
    ~ResponseListener() override { unsubscribe(); }

    bool subscribe(const QString& path)
    {
        unsubscribe();
        m_path = path;
        return m_bus.connect(kPortalService, path, QStringLiteral("org.freedesktop.portal.Request"),
                             QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    }
    const QString& path() const { return m_path; }
    void fail(const QString& error) { m_done.resolve(PortalResponse{PortalResponse::kError, {}, error}); }

public slots:
    void onResponse(uint code, const QVariantMap& results) { m_done.resolve(PortalResponse{code, results, {}}); }

private:
    void unsubscribe()
    {
        if (!m_path.isEmpty())
            m_bus.disconnect(kPortalService, m_path, QStringLiteral("org.freedesktop.portal.Request"),
                             QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
        m_path.clear();
    }

    QDBusConnection m_bus;
    Completion<PortalResponse> m_done;
    QString m_path;
};

} // namespace

QString portalToken()
{
    static int counter = 0;
    return QStringLiteral("velutanora%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

Task<PortalResponse> callPortal(QDBusConnection bus, QString interface, QString method, QVariantList arguments,
                                QVariantMap options)
{
    Completion<PortalResponse> done;
    const QString token = portalToken();
    options.insert(QStringLiteral("handle_token"), token);
    // The request path is the sender's unique name without ':' and with '.' as '_'.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    auto listener = std::make_unique<ResponseListener>(bus, done);
    listener->subscribe(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, interface, method);
    arguments.append(options);
    call.setArguments(arguments);
    // A cancelled task (the user pressed cancel while the desktop's dialog waits) closes the
    // request: the desktop takes its dialog down, and the answer is "ended".
    done.setOnCancel([bus, l = listener.get(), done]() mutable {
        if (!l->path().isEmpty())
            bus.asyncCall(QDBusMessage::createMethodCall(kPortalService, l->path(), QStringLiteral("org.freedesktop.portal.Request"),
                                                         QStringLiteral("Close")));
        done.resolve(PortalResponse{2, {}, QStringLiteral("cancelled")});
    });
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), listener.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, listener.get(), [l = listener.get()](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            l->fail(reply.error().message().isEmpty() ? reply.error().name() : reply.error().message());
            return;
        }
        // An older portal names the request itself: follow it there.
        if (reply.value().path() != l->path())
            l->subscribe(reply.value().path());
    });
    // The user may take long over a consent dialog: no time-out beyond the call's own.
    PortalResponse response = co_await done;
    co_return response;
}

Task<QDBusMessage> dbusCall(QDBusConnection bus, QDBusMessage call)
{
    Completion<QDBusMessage> done;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [done](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        done.resolve(w->reply());
    });
    QDBusMessage reply = co_await done;
    co_return reply;
}

QDBusConnection registeredPortalConnection(Logger& log, bool& registered)
{
    // Once per process: a connection is registered once, and every later backend shares it.
    static const QString name = QStringLiteral("velutanora-portal");
    static int state = 0; // 0 not tried, 1 registered, -1 refused
    registered = false;
    const QDBusConnection shared = QDBusConnection::sessionBus();
    if (!shared.isConnected() || state < 0)
        return shared;
    if (state > 0) {
        registered = true;
        return QDBusConnection(name);
    }
    QDBusConnection own = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, QStringLiteral("org.freedesktop.host.portal.Registry"),
                                                       QStringLiteral("Register"));
    call << kApplicationId << QVariantMap();
    const QDBusMessage reply = own.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        log.line(QStringLiteral("🔑 [Desktop] the portal knows this program by no application id (%1)").arg(dbusErrorText(reply)));
        QDBusConnection::disconnectFromBus(name);
        state = -1;
        return shared;
    }
    log.line(QStringLiteral("🔑 [Desktop] registered with the portal as %1").arg(kApplicationId));
    state = 1;
    registered = true;
    return own;
}

uint portalVersion(const QDBusConnection& bus, const QString& interface)
{
    QDBusMessage get = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    return reply.arguments().first().value<QDBusVariant>().variant().toUInt();
}

} // namespace vel

#include "PortalRequest.moc"
