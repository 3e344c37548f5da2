#pragma once

#include "common/Task.h"
#include "correction/DictationOutcome.h"
#include "desktop/Workspace.h"
#include "settings/ShortcutKey.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

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
    // Replaces the contents with the text (the previous contents are not kept). Returns why
    // the clipboard did not take it, in words for the user; empty when it did.
    virtual QString setText(const QString& text) = 0;
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

// One key event as the shortcut detector sees it.
struct KeyEvent {
    quint16 keyCode = 0;
    quint64 flags = 0;    // modifier bits held, as in ShortcutKey (plus others that are ignored)
    double timestamp = 0; // seconds
    // Finds the application in front. Asked only when the event is a shortcut: on X11 each
    // look-up is a round trip to the server, and most key presses are someone's typing.
    std::function<ApplicationRef()> frontmost;

    ApplicationRef frontmostApp() const { return frontmost ? frontmost() : nullptr; }
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

// One thing the program needs from the desktop, for the settings window: the mechanism that
// gives it, or why there is none and the step that would give it.
struct DesktopCapability {
    QString name;  // "ショートカット", "ペースト", "貼り付け先", "パネル"
    QString state; // the mechanism, or the reason and the fix
    bool works = false;
    // A step the program can take for the user (enable the GNOME Shell extension); true when it
    // was taken.
    QString actionLabel{};
    std::function<bool()> action{};
};

// Global shortcuts that a desktop service binds for the program (the GlobalShortcuts portal,
// KGlobalAccel): it reports activations by id, not key events, and may bind other keys than
// asked. Lone modifier keys cannot be asked for.
class DesktopShortcuts {
public:
    static inline const QString kToggle = QStringLiteral("toggle");
    static inline const QString kCancel = QStringLiteral("cancel");

    virtual ~DesktopShortcuts() = default;
    // Asks for these keys (nullopt: no preferred key, the user picks one in the desktop).
    virtual void bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel) = 0;
    // The cancel shortcut is live only while a dictation or its processing runs; a service that
    // cannot release its key ignores it while idle instead.
    virtual void setCancelActive(bool active) = 0;
    // The mechanism's name, for the settings window ("GlobalShortcuts portal", "KGlobalAccel").
    virtual QString mechanism() const = 0;
    // What the desktop says is bound to the id, empty while nothing is.
    virtual QString trigger(const QString& id) const = 0;
    // Why the start key could not be bound, in words for the user (empty: it was, or no reason is known).
    virtual QString problem() const { return {}; }
    // The desktop's own dialog for these shortcuts, where it has one.
    virtual bool canConfigure() const { return false; }
    virtual void configure() {}

    std::function<void(const QString& id)> onActivated;
    std::function<void()> onTriggersChanged;
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
    // A processed dictation ended (pasted, or kept with the reason): the confirmation where the
    // panel shows, else a notification of what the user must know.
    virtual void showOutcome(const DictationOutcome& outcome) = 0;
};

// Desktop notifications, for what the user must see when the panel cannot show it.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& text) = 0;
};

} // namespace vel
