#pragma once

#include "dictation/KeyboardMonitor.h"

#include <set>
#include <utility>
#include <vector>

namespace vel {

class Workspace;
class X11Connection;

// Global keys on X11. Swallowing: XGrabKey on the root window (every Lock/NumLock variant) of
// the grab connection. Monitoring: XInput2 raw key events on a second connection (a grab would
// hide releases from the first), with the pressed keys tracked from the events themselves.
class X11Keyboard final : public KeyboardMonitor {
public:
    X11Keyboard(X11Connection& grabs, X11Connection& raw, int xinputOpcode, const Workspace& workspace);
    ~X11Keyboard() override;

    bool installTap() override;
    void startMonitors() override;
    bool isKeyDown(quint32 keysym) const override;
    QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>& shortcuts) override;

    // The X key code of a keysym in the current layout (0 when there is none), and back.
    static unsigned keycodeFor(X11Connection& connection, quint32 keysym);
    static quint32 keysymOf(X11Connection& connection, unsigned keycode);

private:
    // Finds the application in front when a shortcut matches, not for every key press.
    std::function<ApplicationRef()> frontmostLookup() const;
    quint8 heldModifiers() const;
    void ungrabAll();

    X11Connection& m_grabs;
    X11Connection& m_raw;
    int m_xinputOpcode;
    const Workspace& m_workspace;
    bool m_tapInstalled = false;
    bool m_monitoring = false;
    std::set<unsigned> m_pressed;
    QList<ShortcutKey> m_swallowed;
    std::vector<std::pair<unsigned, unsigned>> m_grabbed; // keycode, modifier mask
};

} // namespace vel
