#include "app/StartupGate.h"

namespace vel {

void StartupGate::handle(const QString& command)
{
    if (m_open) {
        m_deliver(command);
    } else if (command == QLatin1String("toggle")) {
        m_toggleWaiting = !m_toggleWaiting;
    } else if (command == QLatin1String("cancel")) {
        m_toggleWaiting = false;
    } else {
        m_deliver(command);
    }
}

void StartupGate::open()
{
    if (m_open)
        return;
    m_open = true;
    if (m_toggleWaiting) {
        m_toggleWaiting = false;
        m_deliver(QStringLiteral("toggle"));
    }
}

} // namespace vel
