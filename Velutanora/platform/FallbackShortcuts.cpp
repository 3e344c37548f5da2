#include "platform/FallbackShortcuts.h"

#include "common/Logger.h"
#include "common/Task.h"

namespace vel {

FallbackShortcuts::FallbackShortcuts(Logger& log, std::unique_ptr<DesktopShortcuts> preferred,
                                     std::function<std::unique_ptr<DesktopShortcuts>()> makeFallback)
    : m_log(log), m_current(std::move(preferred)), m_makeFallback(std::move(makeFallback))
{
    wire();
}

FallbackShortcuts::~FallbackShortcuts()
{
    *m_alive = false;
}

void FallbackShortcuts::wire()
{
    m_current->onActivated = [this](const QString& id) {
        if (onActivated)
            onActivated(id);
    };
    m_current->onTriggersChanged = [this] {
        const bool first = !m_answered;
        m_answered = true;
        if (first && m_makeFallback && m_current->trigger(kToggle).isEmpty() && m_current->trigger(kCancel).isEmpty()) {
            // Switched after the service's own code has returned: it is what called us.
            std::weak_ptr<bool> alive = m_alive;
            postToMainLoop([this, alive] {
                if (alive.lock() && *alive.lock())
                    fallBack();
            });
            return;
        }
        if (onTriggersChanged)
            onTriggersChanged();
    };
}

void FallbackShortcuts::fallBack()
{
    std::unique_ptr<DesktopShortcuts> next = m_makeFallback();
    m_makeFallback = nullptr;
    if (!next)
        return;
    m_log.line(QStringLiteral("🔑 [Shortcuts] %1 bound nothing; using %2").arg(m_current->mechanism(), next->mechanism()));
    m_current->onActivated = nullptr;
    m_current->onTriggersChanged = nullptr;
    m_retired = std::move(m_current);
    m_current = std::move(next);
    wire();
    if (m_bound)
        m_current->bind(m_toggle, m_cancel);
    m_current->setCancelActive(m_cancelActive);
    if (onTriggersChanged)
        onTriggersChanged();
}

void FallbackShortcuts::bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel)
{
    m_toggle = toggle;
    m_cancel = cancel;
    m_bound = true;
    m_current->bind(toggle, cancel);
}

void FallbackShortcuts::setCancelActive(bool active)
{
    m_cancelActive = active;
    m_current->setCancelActive(active);
}

} // namespace vel
