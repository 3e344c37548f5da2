#pragma once

#include "dictation/Notifier.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>

namespace vel {

class Logger;

// Desktop notifications through org.freedesktop.Notifications. Where no notification service
// answers, the text goes to the fallback (the tray icon's balloon), so it is never only logged.
class DesktopNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 4000;

    DesktopNotifier(Logger& log, QDBusConnection bus, std::function<void(const QString&)> fallback,
                    QObject* parent = nullptr);

    void notify(const QString& text) override;

private:
    Logger& m_log;
    QDBusConnection m_bus;
    std::function<void(const QString&)> m_fallback;
    // A new failure replaces the previous notice instead of stacking up.
    uint m_lastId = 0;
};

} // namespace vel
