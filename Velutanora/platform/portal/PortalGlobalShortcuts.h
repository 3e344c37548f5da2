#pragma once

#include "common/Task.h"
#include "dictation/DesktopShortcuts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>

namespace vel {

class Logger;

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// The global shortcuts through org.freedesktop.portal.GlobalShortcuts: one session with the two
// shortcuts, the stored keys as preferred triggers. The desktop decides what is bound (it may ask
// the user) and reports it. Sessions do not survive the program; the desktop keeps the keys the
// user chose for the program. A rebind closes the session and opens a new one, since a session's
// shortcuts are bound once.
class PortalGlobalShortcuts final : public QObject, public DesktopShortcuts {
    Q_OBJECT
public:
    PortalGlobalShortcuts(Logger& log, QDBusConnection bus, uint version, QObject* parent = nullptr);
    ~PortalGlobalShortcuts() override;

    void bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel) override;
    void setCancelActive(bool active) override { m_cancelActive = active; }
    QString mechanism() const override;
    QString trigger(const QString& id) const override { return m_triggers.value(id); }
    bool canConfigure() const override { return m_version >= 2 && !m_session.isEmpty(); }
    void configure() override;

    // The preferred trigger in the shortcuts format the portal takes ("CTRL+ALT+space"); empty
    // for a key it cannot name.
    static QString triggerText(const ShortcutKey& key);

private slots:
    void onPortalActivated(const QDBusMessage& message);
    void onShortcutsChanged(const QDBusMessage& message);

private:
    Task<void> bindTask(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel);
    void closeSession();
    void takeTriggers(const QList<PortalShortcut>& shortcuts);

    Logger& m_log;
    QDBusConnection m_bus;
    uint m_version;
    QString m_session;
    QMap<QString, QString> m_triggers;
    bool m_cancelActive = false;
    TaskHandle m_binding;
};

} // namespace vel

Q_DECLARE_METATYPE(vel::PortalShortcut)
