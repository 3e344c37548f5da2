#pragma once

#include <QList>
#include <QtCore/qnamespace.h>

#include <optional>

namespace vel {

// Keysyms and modifier masks between ShortcutKey and what the desktops speak: X core modifier
// masks, Qt keys, the keys to press for a chord. Pure tables, shared by the backends and the
// shortcut recorder.
namespace KeyTranslation {

// The keysym a shortcut names for a key X reports at its first level: letters in lower case,
// AltGr as Right Alt.
quint32 normalizedKeysym(quint32 keysym);
// The keysyms to find the key by in a layout, preferred first (AltGr after Right Alt).
QList<quint32> layoutKeysyms(quint32 keysym);

// X core modifier masks (Shift 1, Control 4, Mod1 = Alt 8, Mod4 = Super 64) and ShortcutKey's modifiers.
quint8 modifiersForXState(unsigned state);
unsigned xStateForModifiers(quint8 modifiers);

// The keysym of a Qt key, for a recorder that sees no native key (other platforms, tests), and
// back (for desktop services that take Qt key codes, such as KGlobalAccel).
std::optional<quint32> keysymForQtKey(int key);
std::optional<int> qtKeyForKeysym(quint32 keysym);
quint8 modifiersForQt(Qt::KeyboardModifiers modifiers);
Qt::KeyboardModifiers qtModifiersFor(quint8 modifiers);

// The keysyms to press for a key with modifiers: the left modifiers first, the key last.
QList<quint32> keysymsForChord(quint32 keysym, quint8 modifiers);
// Any modifier key's keysym, for releasing what the user still holds (never the locks).
bool isModifierKeysym(quint32 keysym);

} // namespace KeyTranslation

} // namespace vel
