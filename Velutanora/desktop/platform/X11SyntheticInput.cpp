#include "desktop/platform/X11SyntheticInput.h"

#include "desktop/KeyTranslation.h"
#include "desktop/platform/X11Connection.h"
#include "desktop/platform/X11Keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <unistd.h>

namespace vel {

X11SyntheticInput::X11SyntheticInput(X11Connection& connection) : m_connection(connection)
{
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    m_xtest = XTestQueryExtension(connection.display(), &event, &error, &major, &minor);
}

QList<unsigned> X11SyntheticInput::heldModifierKeycodes() const
{
    QList<unsigned> held;
    char keys[32] = {};
    XQueryKeymap(m_connection.display(), keys);
    for (unsigned code = 8; code < 256; ++code) {
        if (!(keys[code / 8] & (1 << (code % 8))))
            continue;
        const KeySym sym = XkbKeycodeToKeysym(m_connection.display(), static_cast<KeyCode>(code), 0, 0);
        if (KeyTranslation::isModifierKeysym(static_cast<quint32>(sym)))
            held.append(code);
    }
    return held;
}

void X11SyntheticInput::postKeyStroke(const KeyChord& chord, const ApplicationRef& target)
{
    Q_UNUSED(target); // XTEST types into the focused window; the paste service brought the target there
    if (!m_xtest)
        return;
    Display* d = m_connection.display();

    QList<unsigned> held = heldModifierKeycodes();
    for (int waited = 0; !held.isEmpty() && waited < kHeldKeyWaitMs; waited += 10) {
        ::usleep(10000);
        held = heldModifierKeycodes();
    }
    for (unsigned code : held)
        XTestFakeKeyEvent(d, code, False, CurrentTime);

    const unsigned key = X11Keyboard::keycodeFor(m_connection, chord.keyCode);
    if (key == 0)
        return;
    QList<unsigned> modifiers;
    const std::pair<quint64, quint16> order[] = {{ShortcutKey::Control, 59}, {ShortcutKey::Shift, 56},
                                                 {ShortcutKey::Option, 58}, {ShortcutKey::Command, 55}};
    for (const auto& [bit, virtualKey] : order) {
        if (chord.modifiers & bit) {
            const unsigned code = X11Keyboard::keycodeFor(m_connection, virtualKey);
            if (code != 0)
                modifiers.append(code);
        }
    }
    for (unsigned code : modifiers)
        XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, key, True, CurrentTime);
    XTestFakeKeyEvent(d, key, False, CurrentTime);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        XTestFakeKeyEvent(d, *it, False, CurrentTime);
    XFlush(d);
}

} // namespace vel
