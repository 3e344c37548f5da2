#pragma once

#include "dictation/SyntheticInput.h"

#include <QHash>

struct zwp_virtual_keyboard_v1;

namespace vel {

class WaylandConnection;

// Key strokes through one zwp_virtual_keyboard_v1, made at start-up and kept: a fresh virtual
// keyboard's first key is lost on a seat that had no keyboard yet. Its keymap (US, from
// xkbcommon) holds the keys it sends. It sends its own modifier state with every stroke, so a
// key the user still holds on the real keyboard (Alt of Alt+Space) does not combine with it.
class WaylandSyntheticInput final : public SyntheticInput {
public:
    explicit WaylandSyntheticInput(WaylandConnection& connection);
    ~WaylandSyntheticInput() override;
    bool isAllowed() const override { return m_keyboard != nullptr; }
    Task<StrokeResult> sendKeyStroke(KeyChord chord, ApplicationRef target) override;

    // The evdev key code of a keysym the program types (0 when it has none).
    static quint32 evdevKeyFor(quint32 keysym);

private:
    void key(quint32 evdevKey, bool down);
    WaylandConnection& m_connection;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    QHash<quint8, quint32> m_modifierMasks; // ShortcutKey bit → xkb modifier mask
};

} // namespace vel
