#include "platform/x11/X11Keyboard.h"

#include "dictation/KeyTranslation.h"
#include "dictation/Workspace.h"
#include "platform/x11/X11Connection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace vel {

namespace {

constexpr int kBadAccess = 10;
const unsigned kLockVariants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

} // namespace

X11Keyboard::X11Keyboard(X11Connection& grabs, X11Connection& raw, int xinputOpcode, const Workspace& workspace)
    : m_grabs(grabs), m_raw(raw), m_xinputOpcode(xinputOpcode), m_workspace(workspace)
{
}

X11Keyboard::~X11Keyboard() { ungrabAll(); }

unsigned X11Keyboard::keycodeFor(X11Connection& connection, quint32 keysym)
{
    for (quint32 sym : KeyTranslation::layoutKeysyms(keysym)) {
        const KeyCode code = XKeysymToKeycode(connection.display(), sym);
        if (code != 0)
            return code;
    }
    return 0;
}

quint32 X11Keyboard::keysymOf(X11Connection& connection, unsigned keycode)
{
    const KeySym sym = XkbKeycodeToKeysym(connection.display(), static_cast<KeyCode>(keycode), 0, 0);
    return KeyTranslation::normalizedKeysym(static_cast<quint32>(sym));
}

quint8 X11Keyboard::heldModifiers() const
{
    quint8 modifiers = 0;
    for (unsigned keycode : m_pressed)
        modifiers |= ShortcutKey::modifierOf(keysymOf(m_raw, keycode));
    return modifiers;
}

std::function<ApplicationRef()> X11Keyboard::frontmostLookup() const
{
    const Workspace* workspace = &m_workspace;
    return [workspace] { return workspace->frontmostApplication(); };
}

bool X11Keyboard::installTap()
{
    if (m_tapInstalled)
        return true;
    m_grabs.addListener([this](XEvent& event) {
        if (event.type != KeyPress || !onTapKeyDown)
            return;
        onTapKeyDown(KeyEvent{keysymOf(m_grabs, event.xkey.keycode), KeyTranslation::modifiersForXState(event.xkey.state),
                              static_cast<double>(event.xkey.time) / 1000.0, frontmostLookup()});
    });
    m_tapInstalled = true;
    return true;
}

void X11Keyboard::startMonitors()
{
    if (m_monitoring)
        return;
    m_monitoring = true;
    Display* d = m_raw.display();
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawKeyPress);
    XISetMask(mask, XI_RawKeyRelease);
    XIEventMask events{XIAllMasterDevices, static_cast<int>(sizeof(mask)), mask};
    XISelectEvents(d, DefaultRootWindow(d), &events, 1);
    XFlush(d);

    m_raw.addListener([this](XEvent& event) {
        if (event.type != GenericEvent || event.xcookie.extension != m_xinputOpcode)
            return;
        Display* display = m_raw.display();
        if (!XGetEventData(display, &event.xcookie))
            return;
        const int type = event.xcookie.evtype;
        const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
        const unsigned keycode = static_cast<unsigned>(raw->detail);
        const double time = static_cast<double>(raw->time) / 1000.0;
        const bool repeat = (raw->flags & XIKeyRepeat) != 0;
        XFreeEventData(display, &event.xcookie);
        if (type != XI_RawKeyPress && type != XI_RawKeyRelease)
            return;

        const bool press = type == XI_RawKeyPress;
        if (press)
            m_pressed.insert(keycode);
        else
            m_pressed.erase(keycode);
        const quint32 keysym = keysymOf(m_raw, keycode);
        if (ShortcutKey::isModifierKey(keysym)) {
            if (onFlagsChanged && !repeat)
                onFlagsChanged(KeyEvent{keysym, heldModifiers(), time, frontmostLookup()});
            return;
        }
        if (!press || !onKeyDown)
            return;
        const quint8 modifiers = heldModifiers();
        // A press that a grab swallowed reached the tap already; the monitors never see it.
        for (const ShortcutKey& s : m_swallowed) {
            if (s.matches(keysym, modifiers))
                return;
        }
        onKeyDown(KeyEvent{keysym, modifiers, time, frontmostLookup()});
    });
}

bool X11Keyboard::isKeyDown(quint32 keysym) const
{
    for (unsigned keycode : m_pressed) {
        if (keysymOf(m_raw, keycode) == keysym)
            return true;
    }
    return false;
}

void X11Keyboard::ungrabAll()
{
    Display* d = m_grabs.display();
    for (const auto& [keycode, mods] : m_grabbed)
        XUngrabKey(d, static_cast<int>(keycode), mods, DefaultRootWindow(d));
    m_grabbed.clear();
    m_grabs.takeError();
}

QList<ShortcutKey> X11Keyboard::setSwallowedShortcuts(const QList<ShortcutKey>& shortcuts)
{
    ungrabAll();
    m_swallowed.clear();
    QList<ShortcutKey> failed;
    Display* d = m_grabs.display();
    for (const ShortcutKey& shortcut : shortcuts) {
        const unsigned keycode = keycodeFor(m_grabs, shortcut.keysym);
        if (keycode == 0) {
            failed.append(shortcut);
            continue;
        }
        const unsigned mods = KeyTranslation::xStateForModifiers(shortcut.modifiers);
        std::vector<std::pair<unsigned, unsigned>> mine;
        bool conflict = false;
        for (unsigned variant : kLockVariants) {
            XGrabKey(d, static_cast<int>(keycode), mods | variant, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync);
            // Grab errors arrive asynchronously: sync before reading them.
            if (m_grabs.takeError() == kBadAccess)
                conflict = true;
            else
                mine.emplace_back(keycode, mods | variant);
        }
        if (conflict) {
            for (const auto& [code, m] : mine)
                XUngrabKey(d, static_cast<int>(code), m, DefaultRootWindow(d));
            m_grabs.takeError();
            failed.append(shortcut);
            continue;
        }
        m_grabbed.insert(m_grabbed.end(), mine.begin(), mine.end());
        m_swallowed.append(shortcut);
    }
    XFlush(d);
    return failed;
}

} // namespace vel
