#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>

#include <optional>

namespace vel {

// The desktop's colour scheme from the appearance portal (org.freedesktop.appearance
// color-scheme: 1 prefers dark, 2 prefers light, 0 says nothing), followed as it changes.
class PortalAppearance final : public QObject {
    Q_OBJECT
public:
    explicit PortalAppearance(QDBusConnection bus, QObject* parent = nullptr);
    // Dark, light, or none while the desktop says nothing (or has no portal).
    std::optional<bool> prefersDark() const { return m_prefersDark; }
    // The portal's value as a preference.
    static std::optional<bool> fromColorScheme(uint value);

signals:
    void changed();

private slots:
    void onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void set(std::optional<bool> dark);
    QDBusConnection m_bus;
    std::optional<bool> m_prefersDark;
};

} // namespace vel
