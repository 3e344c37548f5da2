#include "platform/gnome/MutterRemoteDesktop.h"

#include "common/Logger.h"
#include "dictation/KeyTranslation.h"
#include "platform/portal/PortalRequest.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace vel {

namespace {

const QString kPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
constexpr int kCallTimeoutMs = 3000;
constexpr quint32 kShiftL = 0xffe1;

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

MutterRemoteDesktop::MutterRemoteDesktop(Logger& log, Clock& clock, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_log(log), m_clock(clock), m_bus(std::move(bus))
{
}

MutterRemoteDesktop::~MutterRemoteDesktop() { closeSession(); }

bool MutterRemoteDesktop::isOffered(const QDBusConnection& bus)
{
    return bus.isConnected() && bus.interface()->isServiceRegistered(kService);
}

QDBusMessage MutterRemoteDesktop::call(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, kCallTimeoutMs);
}

// Empty when a session is open (or was already), else why not.
QString MutterRemoteDesktop::openSession()
{
    if (m_close)
        m_close->stop();
    if (!m_session.isEmpty())
        return {};
    const QDBusMessage created = m_bus.call(
        QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.gnome.Mutter.RemoteDesktop"),
                                       QStringLiteral("CreateSession")),
        QDBus::Block, kCallTimeoutMs);
    if (created.type() != QDBusMessage::ReplyMessage || created.arguments().isEmpty())
        return dbusErrorText(created);
    m_session = qdbus_cast<QDBusObjectPath>(created.arguments().first()).path();
    m_bus.connect(kService, m_session, kSessionInterface, QStringLiteral("SelectionTransfer"), this,
                  SLOT(onSelectionTransfer(QString, uint)));
    m_bus.connect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this, SLOT(onClosed()));
    for (const QString& step : {QStringLiteral("Start"), QStringLiteral("EnableClipboard")}) {
        const QDBusMessage reply = step == QLatin1String("Start") ? call(step) : call(step, {QVariantMap()});
        if (reply.type() != QDBusMessage::ReplyMessage) {
            const QString why = QStringLiteral("%1: %2").arg(step, dbusErrorText(reply));
            closeSession();
            return why;
        }
    }
    // The first key of a new input device can be lost on a seat that had no keyboard.
    keysym(kShiftL, true);
    keysym(kShiftL, false);
    m_log.line(QStringLiteral("🖥️ [GNOME] remote-desktop session %1 opened").arg(m_session));
    return {};
}

void MutterRemoteDesktop::closeSession()
{
    if (m_close)
        m_close->stop();
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(kService, m_session, kSessionInterface, QStringLiteral("SelectionTransfer"), this,
                     SLOT(onSelectionTransfer(QString, uint)));
    m_bus.disconnect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this, SLOT(onClosed()));
    call(QStringLiteral("Stop"));
    m_session.clear();
}

void MutterRemoteDesktop::onClosed()
{
    m_session.clear();
}

void MutterRemoteDesktop::lingerThenClose()
{
    m_close = m_clock.schedule(kLingerSeconds, false, [this] { closeSession(); });
}

QString MutterRemoteDesktop::setClipboard(const QString& text)
{
    if (const QString why = openSession(); !why.isEmpty()) {
        m_log.line(QStringLiteral("⚠️ [GNOME] remote-desktop session: ") + why);
        return QStringLiteral("GNOME のリモートデスクトップ API を使えませんでした（%1）").arg(why);
    }
    m_text = text.toUtf8();
    const QVariantMap options{{QStringLiteral("mime-types"),
                               QStringList{QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING"),
                                           QStringLiteral("text/plain"), QStringLiteral("STRING"), QStringLiteral("TEXT")}}};
    const QDBusMessage reply = call(QStringLiteral("SetSelection"), {options});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        closeSession();
        return QStringLiteral("GNOME のリモートデスクトップ API がクリップボードを受け付けませんでした（%1）").arg(dbusErrorText(reply));
    }
    // A dictation that is not pasted (no target, stealth) still leaves the text readable a while.
    lingerThenClose();
    return {};
}

void MutterRemoteDesktop::onSelectionTransfer(const QString& mimeType, uint serial)
{
    Q_UNUSED(mimeType); // every type offered is the same UTF-8 text
    const QDBusMessage reply = call(QStringLiteral("SelectionWrite"), {serial});
    bool written = false;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const auto fd = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
        written = fd.isValid() && writeAll(fd.fileDescriptor(), m_text);
    }
    call(QStringLiteral("SelectionWriteDone"), {serial, written});
}

void MutterRemoteDesktop::keysym(quint32 sym, bool pressed)
{
    call(QStringLiteral("NotifyKeyboardKeysym"), {sym, pressed});
}

Task<StrokeResult> MutterRemoteDesktop::sendKeyStroke(KeyChord chord, ApplicationRef target)
{
    Q_UNUSED(target); // mutter types into the focused window
    const QList<quint32> keys = KeyTranslation::keysymsForChord(chord.keysym, chord.modifiers);
    if (keys.isEmpty())
        co_return StrokeResult::refused(QStringLiteral("送るキーがありません"));
    if (const QString why = openSession(); !why.isEmpty())
        co_return StrokeResult::unavailable(QStringLiteral("GNOME のリモートデスクトップ API を使えませんでした（%1）").arg(why));
    for (quint32 key : keys)
        keysym(key, true);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        keysym(*it, false);
    lingerThenClose();
    co_return StrokeResult{};
}

} // namespace vel
