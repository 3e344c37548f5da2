#include "platform/kde/KGlobalAccelShortcuts.h"

#include "common/Logger.h"
#include "dictation/KeyTranslation.h"
#include "platform/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QKeyCombination>
#include <QKeySequence>

namespace vel {

namespace {

const QString kPath = QStringLiteral("/kglobalaccel");
const QString kInterface = QStringLiteral("org.kde.KGlobalAccel");
constexpr uint kSetPresent = 2;
constexpr uint kNoAutoloading = 4; // the keys given win over the ones the service remembers

} // namespace

KGlobalAccelShortcuts::KGlobalAccelShortcuts(Logger& log, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_log(log), m_bus(std::move(bus))
{
}

std::optional<int> KGlobalAccelShortcuts::qtKeyCode(const ShortcutKey& key)
{
    if (key.isLoneModifier())
        return std::nullopt;
    const std::optional<int> qtKey = KeyTranslation::qtKeyForKeysym(key.keysym);
    if (!qtKey)
        return std::nullopt;
    const Qt::KeyboardModifiers modifiers = KeyTranslation::qtModifiersFor(key.modifiers);
    return QKeyCombination(modifiers, static_cast<Qt::Key>(*qtKey)).toCombined();
}

QStringList KGlobalAccelShortcuts::actionId(const QString& id) const
{
    const QString friendly = id == kToggle ? QStringLiteral("録音開始/停止") : QStringLiteral("キャンセル");
    return {kComponent, id, QStringLiteral("Velutanora"), friendly};
}

void KGlobalAccelShortcuts::bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel)
{
    m_binding.cancel();
    m_binding = spawn(this, bindTask(toggle, cancel));
}

Task<void> KGlobalAccelShortcuts::bindTask(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel)
{
    if (!m_registered) {
        for (const QString& id : {kToggle, kCancel}) {
            QDBusMessage doRegister = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("doRegister"));
            doRegister << actionId(id);
            m_bus.asyncCall(doRegister);
        }
        QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("getComponent"));
        get << kComponent;
        const QDBusMessage reply = co_await dbusCall(m_bus, get);
        const QString component = reply.arguments().isEmpty() ? QString()
                                                               : reply.arguments().first().value<QDBusObjectPath>().path();
        m_registered = !component.isEmpty()
            && m_bus.connect(kService, component, QStringLiteral("org.kde.kglobalaccel.Component"),
                             QStringLiteral("globalShortcutPressed"), this, SLOT(onPressed(QString, QString, qlonglong)));
        if (!m_registered) {
            m_log.line(QStringLiteral("⚠️ [Shortcuts] KGlobalAccel did not register the component (%1)").arg(reply.errorMessage()));
            co_return;
        }
    }
    m_cancel = cancel;
    setKey(kToggle, toggle);
    setKey(kCancel, m_cancelActive ? cancel : std::nullopt);
}

void KGlobalAccelShortcuts::setCancelActive(bool active)
{
    if (m_cancelActive == active)
        return;
    m_cancelActive = active;
    if (m_registered)
        setKey(kCancel, active ? m_cancel : std::nullopt);
}

void KGlobalAccelShortcuts::setKey(const QString& id, std::optional<ShortcutKey> key)
{
    QList<int> keys;
    if (key) {
        if (const std::optional<int> code = qtKeyCode(*key))
            keys.append(*code);
    }
    QDBusMessage set = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("setShortcut"));
    set << actionId(id) << QVariant::fromValue(keys) << (kSetPresent | kNoAutoloading);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(set, 3000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, id, key, asked = !keys.isEmpty()](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QList<int>> reply = *w;
        QString bound;
        if (!reply.isError() && !reply.value().isEmpty())
            bound = QKeySequence(reply.value().first()).toString(QKeySequence::PortableText);
        if (asked && bound.isEmpty())
            m_log.line(QStringLiteral("⚠️ [Shortcuts] KGlobalAccel did not bind %1 (%2)")
                           .arg(key ? key->label() : QString(), reply.isError() ? reply.error().message() : QStringLiteral("taken")));
        // An idle cancel is released on purpose: what the user reads is the key it takes when busy.
        if (id == kCancel && !asked)
            return;
        m_triggers.insert(id, bound);
        if (onTriggersChanged)
            onTriggersChanged();
    });
    if (id == kCancel && !m_cancelActive) {
        m_triggers.insert(kCancel, m_cancel ? m_cancel->label() : QString());
    }
}

void KGlobalAccelShortcuts::onPressed(const QString& component, const QString& action, qlonglong)
{
    if (component != kComponent)
        return;
    if (action == kCancel && !m_cancelActive)
        return;
    if (onActivated)
        onActivated(action);
}

} // namespace vel
