#pragma once

#include "common/Task.h"
#include "dictation/DesktopShortcuts.h"

#include <QDBusConnection>
#include <QMap>
#include <QObject>

namespace vel {

class Logger;

// The global shortcuts through KDE's org.kde.kglobalaccel, registered as KDE applications do:
// a component with two actions whose keys are set from the stored shortcuts (the stored ones win
// over what the service remembers). The cancel action holds its key only while a dictation
// runs, so Esc stays the applications' while idle.
class KGlobalAccelShortcuts final : public QObject, public DesktopShortcuts {
    Q_OBJECT
public:
    static inline const QString kService = QStringLiteral("org.kde.kglobalaccel");
    static inline const QString kComponent = QStringLiteral("velutanora");

    KGlobalAccelShortcuts(Logger& log, QDBusConnection bus, QObject* parent = nullptr);

    void bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel) override;
    void setCancelActive(bool active) override;
    QString mechanism() const override { return QStringLiteral("KGlobalAccel"); }
    QString trigger(const QString& id) const override { return m_triggers.value(id); }

    // The key as KGlobalAccel takes it: a Qt key code with its modifiers; nullopt for a key Qt
    // has no code for, and for a lone modifier.
    static std::optional<int> qtKeyCode(const ShortcutKey& key);

private slots:
    void onPressed(const QString& component, const QString& action, qlonglong timestamp);

private:
    Task<void> bindTask(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel);
    QStringList actionId(const QString& id) const;
    void setKey(const QString& id, std::optional<ShortcutKey> key);

    Logger& m_log;
    QDBusConnection m_bus;
    std::optional<ShortcutKey> m_cancel;
    bool m_cancelActive = false;
    bool m_registered = false;
    QMap<QString, QString> m_triggers;
    TaskHandle m_binding;
};

} // namespace vel
