#include "platform/portal/PortalRemoteDesktop.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "dictation/KeyTranslation.h"
#include "platform/portal/PortalRequest.h"
#include "settings/KeyValueStore.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusObjectPath>
#include <QJsonValue>

namespace vel {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint kKeyboard = 1;
constexpr uint kPersistUntilRevoked = 2;

QString describe(const PortalResponse& r)
{
    if (r.code == PortalResponse::kDeclined)
        return QStringLiteral("the user declined");
    return r.error.isEmpty() ? QStringLiteral("response %1").arg(r.code) : r.error;
}

} // namespace

PortalRemoteDesktop::PortalRemoteDesktop(Logger& log, Clock& clock, QDBusConnection bus, uint version, KeyValueStore* store,
                                         QObject* parent)
    : QObject(parent), m_log(log), m_clock(clock), m_bus(std::move(bus)), m_version(version), m_store(store)
{
}

PortalRemoteDesktop::~PortalRemoteDesktop()
{
    if (!m_session.isEmpty())
        m_bus.asyncCall(QDBusMessage::createMethodCall(kPortalService, m_session, QStringLiteral("org.freedesktop.portal.Session"),
                                                       QStringLiteral("Close")));
}

Task<StrokeResult> PortalRemoteDesktop::prepare()
{
    if (!m_session.isEmpty())
        co_return StrokeResult{};
    // A refusal holds for this run: no dialog on every paste.
    if (m_refused)
        co_return StrokeResult::refused(kRefusedReason);
    if (m_starting)
        co_return StrokeResult::refused(QStringLiteral("キー入力の許可を確認中です"));
    m_starting = true;
    const bool started = co_await startSession();
    m_starting = false;
    if (started)
        co_return StrokeResult{};
    // Cancelled while the desktop asked: that was no answer, the next paste asks again.
    const bool cancelled = co_await taskCancelled();
    if (!cancelled)
        m_refused = true;
    co_return StrokeResult::refused(kRefusedReason);
}

Task<bool> PortalRemoteDesktop::startSession()
{
    // Arguments are built before each await: GCC 12 fails on initializer lists inside one.
    QVariantMap createOptions;
    createOptions.insert(QStringLiteral("session_handle_token"), portalToken());
    PortalResponse created = co_await callPortal(m_bus, kInterface, QStringLiteral("CreateSession"), QVariantList(), createOptions);
    if (!created.ok()) {
        m_log.line(QStringLiteral("⚠️ [Paste] RemoteDesktop portal: no session (%1)").arg(describe(created)));
        co_return false;
    }
    const QString session = created.results.value(QStringLiteral("session_handle")).toString();
    const QVariant handle = QVariant::fromValue(QDBusObjectPath(session));

    QVariantMap devices;
    devices.insert(QStringLiteral("types"), kKeyboard);
    if (m_version >= 2) {
        devices.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const QString token = m_store ? m_store->value(kTokenKey).toString() : QString();
        if (!token.isEmpty())
            devices.insert(QStringLiteral("restore_token"), token);
    }
    QVariantList selectArguments;
    selectArguments << handle;
    PortalResponse selected = co_await callPortal(m_bus, kInterface, QStringLiteral("SelectDevices"), selectArguments, devices);
    PortalResponse started;
    if (selected.ok()) {
        QVariantList startArguments;
        startArguments << handle << QString();
        started = co_await callPortal(m_bus, kInterface, QStringLiteral("Start"), startArguments, QVariantMap());
    }
    const bool keyboard = started.ok() && (started.results.value(QStringLiteral("devices")).toUInt() & kKeyboard);
    if (!keyboard) {
        m_log.line(QStringLiteral("⚠️ [Paste] RemoteDesktop portal: no keyboard (%1)")
                       .arg(selected.ok() ? (started.ok() ? QStringLiteral("not granted") : describe(started)) : describe(selected)));
        m_bus.asyncCall(QDBusMessage::createMethodCall(kPortalService, session, QStringLiteral("org.freedesktop.portal.Session"),
                                                       QStringLiteral("Close")));
        co_return false;
    }
    const QString token = started.results.value(QStringLiteral("restore_token")).toString();
    if (m_store && !token.isEmpty())
        m_store->setValue(kTokenKey, token); // each token is good once: the new one replaces it
    m_session = session;
    m_bus.connect(kPortalService, session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"), this,
                  SLOT(onSessionClosed()));
    m_log.line(QStringLiteral("⌨️ [Paste] RemoteDesktop portal session started%1")
                   .arg(token.isEmpty() ? QString() : QStringLiteral(" (kept for the next start)")));
    co_return true;
}

void PortalRemoteDesktop::onSessionClosed()
{
    // The desktop ended it (the user revoked it): the next paste starts, and asks, again.
    m_log.line(QStringLiteral("⌨️ [Paste] RemoteDesktop portal session closed by the desktop"));
    m_session.clear();
}

Task<void> PortalRemoteDesktop::typePending()
{
    while (!m_pending.isEmpty()) {
        const Stroke stroke = m_pending.takeFirst();
        QString failure;
        for (const QPair<quint32, bool>& key : stroke.keys) {
            if (m_session.isEmpty()) {
                failure = QStringLiteral("デスクトップがキー入力のセッションを閉じました");
                break;
            }
            QDBusMessage call =
                QDBusMessage::createMethodCall(kPortalService, kPortalPath, kInterface, QStringLiteral("NotifyKeyboardKeysym"));
            call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << static_cast<int>(key.first)
                 << static_cast<uint>(key.second ? 1 : 0);
            const QDBusMessage reply = co_await dbusCall(m_bus, call);
            // The releases still go after a failed press, so no key is left held.
            if (reply.type() == QDBusMessage::ErrorMessage && failure.isEmpty()) {
                m_log.line(QStringLiteral("⚠️ [Paste] RemoteDesktop portal: ") + reply.errorMessage());
                failure = QStringLiteral("デスクトップがキー入力を受け付けませんでした（%1）").arg(reply.errorMessage());
            }
            co_await sleepFor(m_clock, kKeyGapSeconds);
        }
        stroke.done.resolve(failure.isEmpty() ? StrokeResult{} : StrokeResult::refused(failure));
    }
}

Task<StrokeResult> PortalRemoteDesktop::sendKeyStroke(KeyChord chord, ApplicationRef target)
{
    Q_UNUSED(target); // the portal's keyboard types into the focused window
    if (m_session.isEmpty())
        co_return StrokeResult::refused(m_refused ? kRefusedReason : QStringLiteral("キー入力のセッションがありません"));
    // The portal's keyboard is its own device: held keys of the user's keyboard do not combine.
    const QList<quint32> keys = KeyTranslation::keysymsForChord(chord.keysym, chord.modifiers);
    if (keys.isEmpty())
        co_return StrokeResult::refused(QStringLiteral("送るキーがありません"));
    Stroke stroke;
    for (quint32 key : keys)
        stroke.keys.append({key, true});
    for (auto it = keys.crbegin(); it != keys.crend(); ++it)
        stroke.keys.append({*it, false});
    const Completion<StrokeResult> done = stroke.done;
    m_pending.append(stroke);
    // One typist: a stroke sent while the last is still going follows it.
    if (!m_typing.isValid() || m_typing.isFinished())
        m_typing = spawn(this, typePending());
    StrokeResult result = co_await done;
    co_return result;
}

} // namespace vel
