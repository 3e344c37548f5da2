#include "platform/x11/X11SyntheticInput.h"

#include "common/Clock.h"

#include "dictation/KeyTranslation.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>


namespace vel {

X11SyntheticInput::X11SyntheticInput(X11Connection& connection, Clock& clock) : m_connection(connection), m_clock(clock)
{
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    m_xtest = XTestQueryExtension(connection.display(), &event, &error, &major, &minor);
}

namespace {
const QString kNoXtest = QStringLiteral("X サーバーに XTEST 拡張がありません");
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

Task<StrokeResult> X11SyntheticInput::sendKeyStroke(KeyChord chord, ApplicationRef target)
{
    Q_UNUSED(target); // XTEST types into the focused window; the paste service brought the target there
    if (!m_xtest)
        co_return StrokeResult::unavailable(kNoXtest);
    // The chord's keys, its modifiers first; without one, the chord would type a plain letter into the target.
    QList<unsigned> keys;
    for (quint32 keysym : KeyTranslation::keysymsForChord(chord.keysym, chord.modifiers)) {
        const unsigned code = X11Keyboard::keycodeFor(m_connection, keysym);
        if (code == 0)
            co_return StrokeResult::refused(
                QStringLiteral("キーボード配列に %1 のキーがありません").arg(ShortcutKey{keysym, 0}.keyName()));
        keys.append(code);
    }
    const unsigned key = keys.takeLast();
    const QList<unsigned> modifiers = keys;

    QList<unsigned> held = heldModifierKeycodes();
    const double deadline = m_clock.now() + kHeldKeyWaitSeconds;
    while (!held.isEmpty() && m_clock.now() < deadline) {
        co_await sleepFor(m_clock, 0.01);
        held = heldModifierKeycodes();
    }
    Display* d = m_connection.display();
    for (unsigned code : held)
        XTestFakeKeyEvent(d, code, False, CurrentTime);

    for (unsigned code : modifiers)
        XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, key, True, CurrentTime);
    XTestFakeKeyEvent(d, key, False, CurrentTime);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        XTestFakeKeyEvent(d, *it, False, CurrentTime);
    XFlush(d);
    co_return StrokeResult{};
}

} // namespace vel
