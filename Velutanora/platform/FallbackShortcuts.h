#pragma once

#include "dictation/DesktopShortcuts.h"

#include <functional>
#include <memory>

namespace vel {

class Logger;

// The preferred desktop shortcut service, and another to turn to when the preferred one answers
// its first binding with nothing bound at all. Plasma 5.27's GlobalShortcuts portal does that for
// a program that is not sandboxed (it has no application id to register the keys under), while
// KGlobalAccel on the same desktop binds them.
class FallbackShortcuts final : public DesktopShortcuts {
public:
    FallbackShortcuts(Logger& log, std::unique_ptr<DesktopShortcuts> preferred,
                      std::function<std::unique_ptr<DesktopShortcuts>()> makeFallback);
    ~FallbackShortcuts() override;

    void bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel) override;
    void setCancelActive(bool active) override;
    QString mechanism() const override { return m_current->mechanism(); }
    QString trigger(const QString& id) const override { return m_current->trigger(id); }
    QString problem() const override { return m_current->problem(); }
    bool canConfigure() const override { return m_current->canConfigure(); }
    void configure() override { m_current->configure(); }

    bool hasFallenBack() const { return !m_makeFallback; }

private:
    void wire();
    void fallBack();

    Logger& m_log;
    std::unique_ptr<DesktopShortcuts> m_current;
    std::unique_ptr<DesktopShortcuts> m_retired; // the one that answered: it may still be on the stack
    std::function<std::unique_ptr<DesktopShortcuts>()> m_makeFallback;
    std::optional<ShortcutKey> m_toggle;
    std::optional<ShortcutKey> m_cancel;
    bool m_cancelActive = false;
    bool m_bound = false;
    bool m_answered = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace vel
