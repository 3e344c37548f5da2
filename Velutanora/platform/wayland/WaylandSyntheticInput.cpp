#include "platform/wayland/WaylandSyntheticInput.h"

#include "platform/wayland/WaylandConnection.h"
#include "virtual-keyboard-unstable-v1-client.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <QDeadlineTimer>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vel {

namespace {

struct ModifierKey {
    quint8 bit;
    quint32 evdevKey;
    const char* xkbName;
};

// In the order they are pressed: Control, Shift, Alt, Super.
constexpr ModifierKey kModifiers[] = {
    {ShortcutKey::Ctrl, KEY_LEFTCTRL, XKB_MOD_NAME_CTRL},
    {ShortcutKey::Shift, KEY_LEFTSHIFT, XKB_MOD_NAME_SHIFT},
    {ShortcutKey::Alt, KEY_LEFTALT, XKB_MOD_NAME_ALT},
    {ShortcutKey::Super, KEY_LEFTMETA, XKB_MOD_NAME_LOGO},
};

// The keymap as text, in a sealed memory file the compositor maps.
int keymapFile(const char* text, size_t size)
{
    const int fd = ::memfd_create("velutanora-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::write(fd, text, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint32 nowMs() { return static_cast<quint32>(QDeadlineTimer::current().deadline()); }

} // namespace

quint32 WaylandSyntheticInput::evdevKeyFor(quint32 keysym)
{
    switch (keysym) {
    case kKeysymV: return KEY_V;
    case kKeysymReturn: return KEY_ENTER;
    default: return 0;
    }
}

WaylandSyntheticInput::WaylandSyntheticInput(WaylandConnection& connection) : m_connection(connection)
{
    if (!connection.virtualKeyboards() || !connection.seat())
        return;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context)
        return;
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap) {
        for (const ModifierKey& m : kModifiers) {
            const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, m.xkbName);
            if (index != XKB_MOD_INVALID)
                m_modifierMasks.insert(m.bit, 1u << index);
        }
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        if (text) {
            const size_t size = std::strlen(text) + 1;
            const int fd = keymapFile(text, size);
            if (fd >= 0) {
                m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(connection.virtualKeyboards(),
                                                                                      connection.seat());
                zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
                ::close(fd);
                // The seat has its keyboard before the first stroke.
                connection.roundtrip();
            }
            std::free(text);
        }
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}

WaylandSyntheticInput::~WaylandSyntheticInput()
{
    if (m_keyboard) {
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
        m_connection.flush();
    }
}

void WaylandSyntheticInput::key(quint32 evdevKey, bool down)
{
    zwp_virtual_keyboard_v1_key(m_keyboard, nowMs(), evdevKey,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

namespace {
const QString kNoKeyboard = QStringLiteral("このコンポジタでは仮想キーボードを作れません");
}

Task<StrokeResult> WaylandSyntheticInput::sendKeyStroke(KeyChord chord, ApplicationRef target)
{
    Q_UNUSED(target); // the keyboard types into the focused window; the paste service brought the target there
    if (!m_keyboard)
        co_return StrokeResult::unavailable(kNoKeyboard);
    const quint32 evdevKey = evdevKeyFor(chord.keysym);
    if (evdevKey == 0)
        co_return StrokeResult::refused(QStringLiteral("仮想キーボードに送るキーがありません"));
    quint32 depressed = 0;
    // No modifier of the user's keyboard is in force while this keyboard types.
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, 0, 0, 0, 0);
    for (const ModifierKey& m : kModifiers) {
        if (!(chord.modifiers & m.bit))
            continue;
        key(m.evdevKey, true);
        depressed |= m_modifierMasks.value(m.bit);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, depressed, 0, 0, 0);
    }
    key(evdevKey, true);
    key(evdevKey, false);
    for (auto it = std::rbegin(kModifiers); it != std::rend(kModifiers); ++it) {
        if (!(chord.modifiers & it->bit))
            continue;
        key(it->evdevKey, false);
        depressed &= ~m_modifierMasks.value(it->bit);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, depressed, 0, 0, 0);
    }
    m_connection.flush();
    co_return StrokeResult{};
}

} // namespace vel
