#include "platform/portal/PortalGlobalShortcuts.h"

#include "common/Logger.h"
#include "platform/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusMetaType>

#include <xkbcommon/xkbcommon.h>

namespace vel {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

QString sessionPath(const QVariant& value)
{
    // Documented as a string; some portals send an object path.
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

PortalGlobalShortcuts::PortalGlobalShortcuts(Logger& log, QDBusConnection bus, uint version, QObject* parent)
    : QObject(parent), m_log(log), m_bus(std::move(bus)), m_version(version)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // Taken as whole messages: the arguments are read here, whatever types the portal sends.
    m_bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(onPortalActivated(QDBusMessage)));
    m_bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(onShortcutsChanged(QDBusMessage)));
}

PortalGlobalShortcuts::~PortalGlobalShortcuts()
{
    m_binding.cancel();
    closeSession();
}

QString PortalGlobalShortcuts::mechanism() const
{
    return QStringLiteral("GlobalShortcuts portal v%1").arg(m_version);
}

QString PortalGlobalShortcuts::triggerText(const ShortcutKey& key)
{
    if (key.isLoneModifier())
        return {};
    char name[64] = {};
    if (xkb_keysym_get_name(key.keysym, name, sizeof name) <= 0)
        return {};
    QStringList parts;
    if (key.modifiers & ShortcutKey::Ctrl) parts << QStringLiteral("CTRL");
    if (key.modifiers & ShortcutKey::Alt) parts << QStringLiteral("ALT");
    if (key.modifiers & ShortcutKey::Shift) parts << QStringLiteral("SHIFT");
    if (key.modifiers & ShortcutKey::Super) parts << QStringLiteral("LOGO");
    parts << QString::fromLatin1(name);
    return parts.join(QLatin1Char('+'));
}

void PortalGlobalShortcuts::bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel)
{
    m_binding.cancel();
    m_binding = spawn(this, bindTask(toggle, cancel));
}

Task<void> PortalGlobalShortcuts::bindTask(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel)
{
    closeSession();
    // Arguments are built before each await: GCC 12 fails on initializer lists inside one.
    QVariantMap createOptions;
    createOptions.insert(QStringLiteral("session_handle_token"), portalToken());
    PortalResponse created = co_await callPortal(m_bus, kInterface, QStringLiteral("CreateSession"), QVariantList(), createOptions);
    const QString session = sessionPath(created.results.value(QStringLiteral("session_handle")));
    const bool cancelled = co_await taskCancelled();
    if (cancelled) {
        // A newer bind replaced this one: the session it opened is nobody's.
        if (created.ok() && !session.isEmpty())
            m_bus.asyncCall(QDBusMessage::createMethodCall(kPortalService, session, QStringLiteral("org.freedesktop.portal.Session"),
                                                           QStringLiteral("Close")));
        co_return;
    }
    if (!created.ok() || session.isEmpty()) {
        m_log.line(QStringLiteral("⚠️ [Shortcuts] the GlobalShortcuts portal opened no session (%1)")
                       .arg(created.error.isEmpty() ? QString::number(created.code) : created.error));
        co_return;
    }
    m_session = session;

    auto entry = [](const QString& id, const QString& description, const std::optional<ShortcutKey>& key) {
        PortalShortcut s{id, {{QStringLiteral("description"), description}}};
        const QString trigger = key ? triggerText(*key) : QString();
        if (!trigger.isEmpty())
            s.properties.insert(QStringLiteral("preferred_trigger"), trigger);
        return s;
    };
    // The portal keeps a key for good: a cancel on a key without modifiers (Esc) would take it
    // from every application, so the user picks that one in the desktop instead.
    if (cancel && cancel->modifiers == 0)
        cancel.reset();
    QList<PortalShortcut> wanted;
    wanted << entry(kToggle, QStringLiteral("録音開始/停止"), toggle) << entry(kCancel, QStringLiteral("キャンセル"), cancel);
    QVariantList bindArguments;
    bindArguments << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariant::fromValue(wanted) << QString();
    PortalResponse bound = co_await callPortal(m_bus, kInterface, QStringLiteral("BindShortcuts"), bindArguments, QVariantMap());
    // GNOME 48 answers "ended otherwise" even when the user added the shortcuts: the list counts.
    const bool boundAnyway = bound.code == PortalResponse::kOther && bound.results.contains(QStringLiteral("shortcuts"));
    if (!bound.ok() && !boundAnyway) {
        m_log.line(QStringLiteral("⚠️ [Shortcuts] the desktop bound no shortcuts (%1)")
                       .arg(bound.code == PortalResponse::kDeclined ? QStringLiteral("declined")
                                                                    : bound.error.isEmpty() ? QString::number(bound.code) : bound.error));
        m_triggers.clear();
        if (onTriggersChanged)
            onTriggersChanged();
        co_return;
    }
    QList<PortalShortcut> shortcuts;
    const QVariant list = bound.results.value(QStringLiteral("shortcuts"));
    if (list.canConvert<QDBusArgument>())
        list.value<QDBusArgument>() >> shortcuts;
    takeTriggers(shortcuts);
}

void PortalGlobalShortcuts::takeTriggers(const QList<PortalShortcut>& shortcuts)
{
    m_triggers.clear();
    for (const PortalShortcut& s : shortcuts)
        m_triggers.insert(s.id, s.properties.value(QStringLiteral("trigger_description")).toString());
    m_log.line(QStringLiteral("🔑 [Shortcuts] the desktop bound toggle to \"%1\", cancel to \"%2\"")
                   .arg(m_triggers.value(kToggle), m_triggers.value(kCancel)));
    if (onTriggersChanged)
        onTriggersChanged();
}

void PortalGlobalShortcuts::closeSession()
{
    if (m_session.isEmpty())
        return;
    m_bus.asyncCall(QDBusMessage::createMethodCall(kPortalService, m_session, QStringLiteral("org.freedesktop.portal.Session"),
                                                   QStringLiteral("Close")));
    m_session.clear();
}

void PortalGlobalShortcuts::configure()
{
    if (!canConfigure())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kInterface, QStringLiteral("ConfigureShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QString() << QVariantMap();
    m_bus.asyncCall(call);
}

void PortalGlobalShortcuts::onPortalActivated(const QDBusMessage& message)
{
    const QVariantList args = message.arguments();
    if (args.size() < 2 || sessionPath(args.at(0)) != m_session)
        return;
    const QString id = args.at(1).toString();
    // The portal cannot let a key go while idle: an idle cancel is ignored instead.
    if (id == kCancel && !m_cancelActive)
        return;
    if (onActivated)
        onActivated(id);
}

void PortalGlobalShortcuts::onShortcutsChanged(const QDBusMessage& message)
{
    const QVariantList args = message.arguments();
    if (args.size() < 2 || sessionPath(args.at(0)) != m_session || !args.at(1).canConvert<QDBusArgument>())
        return;
    QList<PortalShortcut> shortcuts;
    args.at(1).value<QDBusArgument>() >> shortcuts;
    takeTriggers(shortcuts);
}

} // namespace vel
