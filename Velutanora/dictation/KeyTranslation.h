#pragma once

#include <QList>
#include <QtGlobal>

#include <optional>

namespace vel {

// Translation between X11 keysyms and modifier masks and the program's own virtual key codes
// and modifier bits (those of ShortcutKey). Pure tables: the X11 backend and the shortcut
// recorder share them, and the display names stay those of ShortcutKey.
namespace KeyTranslation {

std::optional<quint16> virtualKeyForKeysym(quint32 keysym);
// The keysyms of a virtual key, preferred first (empty when X has none, as for fn).
QList<quint32> keysymsForVirtualKey(quint16 virtualKey);

// X core modifier masks (Shift 1, Control 4, Mod1 = Alt 8, Mod4 = Super 64) to ShortcutKey bits.
quint64 modifierBitsForXState(unsigned state);
unsigned xStateForModifierBits(quint64 bits);

// The keysym of a Qt key, for a recorder that sees no native key (other platforms, tests), and
// back (for desktop services that take Qt key codes, such as KGlobalAccel).
std::optional<quint32> keysymForQtKey(int key);
std::optional<int> qtKeyForKeysym(quint32 keysym);

// The keysyms to press for a key with modifier bits (as in ShortcutKey): the left modifiers
// first, the key last; empty when the key has no keysym.
QList<quint32> keysymsForChord(quint16 virtualKey, quint64 modifiers);
// The modifier keys' keysyms, for releasing what the user still holds.
bool isModifierKeysym(quint32 keysym);

} // namespace KeyTranslation

} // namespace vel
