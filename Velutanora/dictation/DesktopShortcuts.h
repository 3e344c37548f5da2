#pragma once

#include "settings/ShortcutKey.h"

#include <QString>
#include <functional>
#include <optional>

namespace vel {

// One thing the program needs from the desktop, for the settings window: the mechanism that
// gives it, or why there is none and the step that would give it.
struct DesktopCapability {
    QString name;  // "ショートカット", "ペースト", "貼り付け先", "パネル"
    QString state; // the mechanism, or the reason and the fix
    bool works = false;
    // A step the program can take for the user (enable the GNOME Shell extension); true when it
    // was taken.
    QString actionLabel{};
    std::function<bool()> action{};
};

// Global shortcuts that a desktop service binds for the program (the GlobalShortcuts portal,
// KGlobalAccel): it reports activations by id, not key events, and may bind other keys than
// asked. Lone modifier keys cannot be asked for.
class DesktopShortcuts {
public:
    static inline const QString kToggle = QStringLiteral("toggle");
    static inline const QString kCancel = QStringLiteral("cancel");

    virtual ~DesktopShortcuts() = default;
    // Asks for these keys (nullopt: no preferred key, the user picks one in the desktop).
    virtual void bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel) = 0;
    // The cancel shortcut is live only while a dictation or its processing runs; a service that
    // cannot release its key ignores it while idle instead.
    virtual void setCancelActive(bool active) = 0;
    // The mechanism's name, for the settings window ("GlobalShortcuts portal", "KGlobalAccel").
    virtual QString mechanism() const = 0;
    // What the desktop says is bound to the id, empty while nothing is.
    virtual QString trigger(const QString& id) const = 0;
    // Why the start key could not be bound, in words for the user (empty: it was, or no reason is known).
    virtual QString problem() const { return {}; }
    // The desktop's own dialog for these shortcuts, where it has one.
    virtual bool canConfigure() const { return false; }
    virtual void configure() {}

    std::function<void(const QString& id)> onActivated;
    std::function<void()> onTriggersChanged;
};

} // namespace vel
