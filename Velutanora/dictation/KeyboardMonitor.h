#pragma once

#include "dictation/Workspace.h"
#include "settings/ShortcutKey.h"

#include <QList>
#include <functional>

namespace vel {

// One key event as the shortcut detector sees it.
struct KeyEvent {
    quint32 keysym = 0;     // as in ShortcutKey: lower-case letters, modifier keys by side
    quint8 modifiers = 0;   // the modifiers held, as in ShortcutKey
    double timestamp = 0; // seconds
    // Finds the application in front. Asked only when the event is a shortcut: on X11 each
    // look-up is a round trip to the server, and most key presses are someone's typing.
    std::function<ApplicationRef()> frontmost;

    ApplicationRef frontmostApp() const { return frontmost ? frontmost() : nullptr; }
};

// The global keyboard: what a backend delivers and what it must swallow.
class KeyboardMonitor {
public:
    virtual ~KeyboardMonitor() = default;
    // Installs the swallowing path (the "tap"); false when it cannot (yet).
    virtual bool installTap() = 0;
    // Starts the observing paths (key-down and modifier-change monitors).
    virtual void startMonitors() = 0;
    // Whether the key is held now.
    virtual bool isKeyDown(quint32 keysym) const = 0;
    // The key shortcuts that must be swallowed from now on (on X11: grabbed). Returns the ones
    // that could not be swallowed (another program owns them).
    virtual QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>& shortcuts) = 0;

    // Set by the detector. The tap path returns whether the event is swallowed.
    std::function<bool(const KeyEvent&)> onTapKeyDown;
    std::function<void(const KeyEvent&)> onKeyDown;
    std::function<void(const KeyEvent&)> onFlagsChanged;
};

} // namespace vel
