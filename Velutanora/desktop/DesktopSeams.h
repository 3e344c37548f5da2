#pragma once

#include "desktop/Workspace.h"
#include "settings/ShortcutKey.h"

#include <QList>
#include <QString>

#include <functional>

namespace vel {

// Virtual key codes of the strokes the program types.
inline constexpr quint16 kKeyCodeV = 9;
inline constexpr quint16 kKeyCodeReturn = 36;

// A key with the modifiers to hold while it is pressed (bits as in ShortcutKey).
struct KeyChord {
    quint16 keyCode = 0;
    quint64 modifiers = 0;
    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

// The system clipboard.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Replaces the contents with the text (the previous contents are not kept).
    virtual void setText(const QString& text) = 0;
};

// Synthetic key strokes into other applications.
class SyntheticInput {
public:
    virtual ~SyntheticInput() = default;
    // Whether strokes can be sent at all (on X11: the XTEST extension is there).
    virtual bool isAllowed() const = 0;
    // Asks the user for the right to send strokes, where the desktop has such a prompt.
    virtual void requestPermission() {}
    // Presses and releases the chord, addressed to the target (or to whatever has the
    // focus when there is none or it has gone). Keys the user still holds must not combine with it.
    virtual void postKeyStroke(const KeyChord& chord, const ApplicationRef& target) = 0;
};

// One key event as the shortcut detector sees it.
struct KeyEvent {
    quint16 keyCode = 0;
    quint64 flags = 0;       // modifier bits held, as in ShortcutKey (plus others that are ignored)
    double timestamp = 0;    // seconds
    ApplicationRef frontmost; // the application in front when the event was first received
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
    virtual bool isKeyDown(quint16 keyCode) const = 0;
    // The key shortcuts that must be swallowed from now on (on X11: grabbed). Returns the ones
    // that could not be swallowed (another program owns them).
    virtual QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>& shortcuts) = 0;

    // Set by the detector. The tap path returns whether the event is swallowed.
    std::function<bool(const KeyEvent&)> onTapKeyDown;
    std::function<void(const KeyEvent&)> onKeyDown;
    std::function<void(const KeyEvent&)> onFlagsChanged;
};

// What dictation control asks of the floating panel.
class RecordingPanelControl {
public:
    virtual ~RecordingPanelControl() = default;
    virtual void show() = 0;
    virtual void hideImmediately() = 0;
    // A dictation could not start: the reason is shown for a while instead of a panel that
    // vanishes at once.
    virtual void showFailure(const QString& status) = 0;
};

// Desktop notifications, for what the user must see when the panel cannot show it.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& text) = 0;
};

} // namespace vel
