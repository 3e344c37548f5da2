#pragma once

#include "common/Task.h"
#include "dictation/Workspace.h"
#include "settings/ShortcutKey.h"

#include <QString>

namespace vel {

// The keysyms of the strokes the program types.
inline constexpr quint32 kKeysymV = 'v';
inline constexpr quint32 kKeysymReturn = 0xff0d;

// A key with the modifiers to hold while it is pressed (as in ShortcutKey).
struct KeyChord {
    quint32 keysym = 0;
    quint8 modifiers = 0;
    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

// What became of a key stroke the program typed.
struct StrokeResult {
    enum class Kind { Sent, Refused, Unavailable };
    Kind kind = Kind::Sent;
    QString reason; // why it did not go out, in words for the status line

    bool sent() const { return kind == Kind::Sent; }
    static StrokeResult refused(QString why) { return {Kind::Refused, std::move(why)}; }
    static StrokeResult unavailable(QString why) { return {Kind::Unavailable, std::move(why)}; }
};

// Synthetic key strokes into other applications.
class SyntheticInput {
public:
    virtual ~SyntheticInput() = default;
    // Whether strokes can be sent at all (on X11: the XTEST extension is there).
    virtual bool isAllowed() const = 0;
    // Waits until strokes can be sent: a desktop that asks the user first (the remote-desktop
    // portal) asks here, before the target is brought to the front. Others have nothing to wait
    // for; a stroke that cannot go says why itself.
    virtual Task<StrokeResult> prepare() { co_return StrokeResult{}; }
    // Presses and releases the chord, addressed to the target (or to whatever has the focus
    // when there is none or it has gone); ends once the keys went out, or says why they did
    // not. Keys the user still holds must not combine with it.
    virtual Task<StrokeResult> sendKeyStroke(KeyChord chord, ApplicationRef target) = 0;
};

} // namespace vel
