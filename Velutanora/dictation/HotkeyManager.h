#pragma once

#include "common/Task.h"
#include "dictation/DesktopShortcuts.h"
#include "dictation/KeyboardMonitor.h"
#include "settings/ShortcutKey.h"

#include <QList>
#include <QObject>

#include <map>
#include <memory>
#include <set>

namespace vel {

class AppSettings;
class Clock;
class ClockTimer;
class Dictation;
class Logger;

// The global shortcuts: the start and cancel shortcuts, as keys with modifiers or as lone
// modifier keys told apart by side, from platform-neutral key events. What they do is the
// dictation's.
class HotkeyManager final : public QObject {
    Q_OBJECT
public:
    static constexpr double kModifierTapConfirmWindow = 0.65;

    struct Dependencies {
        Logger& log;
        Clock& clock;
        AppSettings& settings;
        Dictation& dictation;
        KeyboardMonitor& keyboard;
        // Where a desktop service binds the key shortcuts (Wayland); the keyboard then brings
        // only the lone modifiers, if anything.
        DesktopShortcuts* desktopShortcuts = nullptr;
    };

    explicit HotkeyManager(Dependencies dependencies, QObject* parent = nullptr);
    ~HotkeyManager() override;

    // --- detection
    void startMonitoring();
    bool handleTapKeyDown(const KeyEvent& event);
    void handleKeyEvent(const KeyEvent& event);
    void handleFlagsChanged(const KeyEvent& event);
    void clearStartModifierPhantomBlock();
    void resetStartModifierState();

    // The key shortcuts that must be swallowed now.
    QList<ShortcutKey> swallowedShortcutsNow() const;

    // While paused (the shortcut recorder is capturing) nothing is swallowed or acted on.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }

    bool startModifierBlockedByPhantom() const { return m_startModifierBlockedByPhantom; }

    // The shortcuts another program holds too (its window menu, a launcher): they still start a
    // dictation, but that program acts on them as well.
    const QList<ShortcutKey>& conflicts() const { return m_conflicts; }
    // What to say of them, with free chords to use instead (empty when there are none).
    static QString conflictAdvice(const QList<ShortcutKey>& shortcuts);

signals:
    // Shortcuts that could not be swallowed (another program owns them).
    void swallowConflict(const QList<ShortcutKey>& shortcuts);

private:
    void installEventTap();
    void handleModifierShortcutPress(const KeyEvent& event);
    void updateSwallowedShortcuts();
    void bindDesktopShortcuts();
    void handleDesktopShortcut(const QString& id);

    Logger& m_log;
    Clock& m_clock;
    AppSettings& m_settings;
    Dictation& m_dictation;
    KeyboardMonitor& m_keyboard;
    DesktopShortcuts* m_desktopShortcuts;

    bool m_tapInstalled = false;
    bool m_monitorsStarted = false;
    std::set<quint32> m_activeModifierKeys;
    std::map<quint32, double> m_pendingModifierTapTime;
    bool m_startModifierBlockedByPhantom = false;
    double m_lastKeyTimestamp = 0;
    // When the start shortcut last acted: a cancel key pressed before it, which the observing path
    // may deliver after it (another connection to the server), does not cancel the new dictation.
    double m_lastStartTimestamp = 0;
    double m_lastFlagsTimestamp = 0;
    bool m_paused = false;
    QList<ShortcutKey> m_swallowed;
    QList<ShortcutKey> m_conflicts;
};

} // namespace vel
