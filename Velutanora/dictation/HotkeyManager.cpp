#include "dictation/HotkeyManager.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "dictation/Dictation.h"
#include "settings/AppSettings.h"

#include <QPointer>

namespace vel {

HotkeyManager::HotkeyManager(Dependencies d, QObject* parent)
    : QObject(parent), m_log(d.log), m_clock(d.clock), m_settings(d.settings),
      m_dictation(d.dictation), m_keyboard(d.keyboard), m_desktopShortcuts(d.desktopShortcuts)
{
    connect(&m_dictation, &Dictation::busyChanged, this, &HotkeyManager::updateSwallowedShortcuts);
    connect(&m_dictation, &Dictation::startKeyStateReset, this, &HotkeyManager::resetStartModifierState);
    connect(&m_dictation, &Dictation::startKeyBlockLifted, this, [this](bool onlyWhenReleased) {
        // While the lone start key that stopped this dictation is still held, its release is yet
        // to come: lifting the block now would let that release start a new dictation.
        const ShortcutKey start = m_settings.startShortcut();
        if (onlyWhenReleased && start.isLoneModifier() && m_keyboard.isKeyDown(start.keysym))
            return;
        clearStartModifierPhantomBlock();
    });
    connect(&m_settings, &AppSettings::startShortcutChanged, this, &HotkeyManager::updateSwallowedShortcuts);
    connect(&m_settings, &AppSettings::cancelShortcutChanged, this, &HotkeyManager::updateSwallowedShortcuts);
    if (m_desktopShortcuts) {
        connect(&m_settings, &AppSettings::startShortcutChanged, this, &HotkeyManager::bindDesktopShortcuts);
        connect(&m_settings, &AppSettings::cancelShortcutChanged, this, &HotkeyManager::bindDesktopShortcuts);
    }
}

HotkeyManager::~HotkeyManager()
{
    m_keyboard.onTapKeyDown = nullptr;
    m_keyboard.onKeyDown = nullptr;
    m_keyboard.onFlagsChanged = nullptr;
    if (m_desktopShortcuts)
        m_desktopShortcuts->onActivated = nullptr;
}

void HotkeyManager::startMonitoring()
{
    installEventTap();
    if (m_monitorsStarted)
        return;
    m_monitorsStarted = true;
    QPointer<HotkeyManager> self(this);
    // The monitors only observe; their work runs after the code that delivered the event.
    m_keyboard.onKeyDown = [self](const KeyEvent& event) {
        postToMainLoop([self, event] {
            if (self)
                self->handleKeyEvent(event);
        });
    };
    m_keyboard.onFlagsChanged = [self](const KeyEvent& event) {
        postToMainLoop([self, event] {
            if (self)
                self->handleFlagsChanged(event);
        });
    };
    m_keyboard.startMonitors();
    if (m_desktopShortcuts) {
        m_desktopShortcuts->onActivated = [self](const QString& id) {
            if (self)
                self->handleDesktopShortcut(id);
        };
        bindDesktopShortcuts();
    }
}

void HotkeyManager::bindDesktopShortcuts()
{
    // Lone modifiers are the keyboard's (evdev) where it can read them; a desktop service
    // cannot be asked for them.
    auto asked = [](const ShortcutKey& key) -> std::optional<ShortcutKey> {
        if (key.isLoneModifier())
            return std::nullopt;
        return key;
    };
    m_desktopShortcuts->bind(asked(m_settings.startShortcut()), asked(m_settings.cancelShortcut()));
    m_desktopShortcuts->setCancelActive(m_dictation.isBusy());
}

void HotkeyManager::handleDesktopShortcut(const QString& id)
{
    if (m_paused)
        return;
    // The target is what is in front at the key, not the last window seen activated: that
    // notification can still be on its way.
    if (id == DesktopShortcuts::kToggle)
        m_dictation.toggle(m_dictation.workspaceMonitor().frontmostNow());
    else if (id == DesktopShortcuts::kCancel && m_dictation.isBusy())
        m_dictation.cancel();
}

void HotkeyManager::installEventTap()
{
    if (m_tapInstalled)
        return;
    m_keyboard.onTapKeyDown = [this](const KeyEvent& event) { return handleTapKeyDown(event); };
    // Nothing here grants a key grab later: a desktop without one says so once (the backend's
    // status) and its shortcuts come from the desktop's own services.
    if (!m_keyboard.installTap()) {
        m_keyboard.onTapKeyDown = nullptr;
        m_log.line(QStringLiteral("🔑 [HotkeyManager] no key grab on this desktop"));
        return;
    }
    m_log.line(QStringLiteral("🔑 [HotkeyManager] key grab installed"));
    m_tapInstalled = true;
    m_swallowed.clear();
    updateSwallowedShortcuts();
}

void HotkeyManager::setPaused(bool paused)
{
    m_paused = paused;
    updateSwallowedShortcuts();
}

QList<ShortcutKey> HotkeyManager::swallowedShortcutsNow() const
{
    QList<ShortcutKey> out;
    if (m_paused)
        return out;
    const ShortcutKey start = m_settings.startShortcut();
    const ShortcutKey cancel = m_settings.cancelShortcut();
    if (!start.isLoneModifier())
        out.append(start);
    if (m_dictation.isBusy() && !cancel.isLoneModifier() && !out.contains(cancel))
        out.append(cancel);
    return out;
}

void HotkeyManager::updateSwallowedShortcuts()
{
    if (m_desktopShortcuts)
        m_desktopShortcuts->setCancelActive(m_dictation.isBusy() && !m_paused);
    if (!m_tapInstalled)
        return;
    const QList<ShortcutKey> wanted = swallowedShortcutsNow();
    if (wanted == m_swallowed)
        return;
    m_swallowed = wanted;
    QList<ShortcutKey> failed = m_keyboard.setSwallowedShortcuts(wanted);
    QList<ShortcutKey> fresh;
    for (const ShortcutKey& key : failed) {
        if (!m_conflicts.contains(key))
            fresh.append(key);
    }
    m_conflicts = failed;
    if (fresh.isEmpty())
        return;
    QStringList names;
    for (const ShortcutKey& key : fresh)
        names.append(key.label());
    m_log.line(QStringLiteral("🔑 [HotkeyManager] could not take %1 for this program (another program owns it); "
                              "it still works, but the application in front receives it too")
                   .arg(names.join(QStringLiteral(", "))));
    m_dictation.reportStatus(QStringLiteral("⚠️ ショートカット %1 は他のアプリが使用中です").arg(names.join(QStringLiteral("、"))));
    emit swallowConflict(fresh);
}

QString HotkeyManager::conflictAdvice(const QList<ShortcutKey>& shortcuts)
{
    if (shortcuts.isEmpty())
        return {};
    QStringList names;
    for (const ShortcutKey& key : shortcuts)
        names.append(key.label());
    return QStringLiteral("%1 は他のプログラム（ウィンドウメニューやランチャーなど）も使っているため、押すとそちらも動きます。"
                          "Ctrl+Alt+Space や Super+F9 など空いている組み合わせに変えてください（設定の「ショートカット」）")
        .arg(names.join(QStringLiteral("、")));
}

bool HotkeyManager::handleTapKeyDown(const KeyEvent& event)
{
    if (m_paused)
        return false;
    if (m_startModifierBlockedByPhantom && !ShortcutKey::isModifierKey(event.keysym))
        clearStartModifierPhantomBlock();
    const ShortcutKey start = m_settings.startShortcut();
    if (!start.isLoneModifier() && start.matches(event.keysym, event.modifiers)) {
        m_lastStartTimestamp = event.timestamp;
        m_dictation.toggle(event.frontmostApp());
        return true;
    }
    if (m_dictation.isBusy()) {
        const ShortcutKey cancel = m_settings.cancelShortcut();
        if (!cancel.isLoneModifier() && cancel.matches(event.keysym, event.modifiers)) {
            m_dictation.cancel();
            return true;
        }
    }
    return false;
}

void HotkeyManager::handleKeyEvent(const KeyEvent& event)
{
    if (m_paused)
        return;
    if (event.timestamp == m_lastKeyTimestamp)
        return;
    m_lastKeyTimestamp = event.timestamp;
    if (m_startModifierBlockedByPhantom && !ShortcutKey::isModifierKey(event.keysym))
        clearStartModifierPhantomBlock();
    if (m_settings.startShortcut().matches(event.keysym, event.modifiers)) {
        m_lastStartTimestamp = event.timestamp;
        m_dictation.toggle(event.frontmostApp());
    } else if (m_settings.cancelShortcut().matches(event.keysym, event.modifiers) && event.timestamp >= m_lastStartTimestamp) {
        m_dictation.cancel();
    }
}

void HotkeyManager::clearStartModifierPhantomBlock()
{
    const ShortcutKey start = m_settings.startShortcut();
    if (!start.isLoneModifier() || !m_startModifierBlockedByPhantom)
        return;
    m_startModifierBlockedByPhantom = false;
    m_pendingModifierTapTime.erase(start.keysym);
}

void HotkeyManager::resetStartModifierState()
{
    const ShortcutKey start = m_settings.startShortcut();
    if (!start.isLoneModifier())
        return;
    m_activeModifierKeys.erase(start.keysym);
    m_pendingModifierTapTime.erase(start.keysym);
    m_startModifierBlockedByPhantom = true;
}

void HotkeyManager::handleFlagsChanged(const KeyEvent& event)
{
    if (m_paused)
        return;
    const ShortcutKey start = m_settings.startShortcut();
    const ShortcutKey cancel = m_settings.cancelShortcut();
    if (!start.isLoneModifier() && !cancel.isLoneModifier())
        return;
    const quint32 k = event.keysym;
    if (!ShortcutKey::isModifierKey(k) || event.timestamp == m_lastFlagsTimestamp)
        return;
    m_lastFlagsTimestamp = event.timestamp;

    for (auto it = m_pendingModifierTapTime.begin(); it != m_pendingModifierTapTime.end();) {
        if (event.timestamp - it->second <= kModifierTapConfirmWindow)
            ++it;
        else
            it = m_pendingModifierTapTime.erase(it);
    }

    const bool isStart = start.isLoneModifier() && start.keysym == k;
    const bool isCancel = cancel.isLoneModifier() && cancel.keysym == k;
    const bool isDown = m_keyboard.isKeyDown(k) || (event.modifiers & ShortcutKey::modifierOf(k)) != 0;
    const bool wasActive = m_activeModifierKeys.count(k) > 0;

    if (isDown && wasActive)
        return;
    if (isDown) {
        m_activeModifierKeys.insert(k);
        m_pendingModifierTapTime.erase(k);
        if (!isStart && m_startModifierBlockedByPhantom)
            clearStartModifierPhantomBlock();
        handleModifierShortcutPress(event);
        return;
    }
    if (wasActive) {
        m_activeModifierKeys.erase(k);
        m_pendingModifierTapTime.erase(k);
        return;
    }
    // A release that found no press: a phantom, or a press the detector never saw.
    auto confirmed = [this, k, &event] {
        auto it = m_pendingModifierTapTime.find(k);
        return it != m_pendingModifierTapTime.end() && event.timestamp - it->second <= kModifierTapConfirmWindow;
    };
    if (isStart) {
        bool act = false;
        if (m_dictation.state().isRecording()) {
            act = true;
        } else if (m_dictation.isProcessing()) {
            m_startModifierBlockedByPhantom = true;
            return;
        } else if (m_startModifierBlockedByPhantom) {
            if (confirmed()) {
                m_pendingModifierTapTime.erase(k);
                m_startModifierBlockedByPhantom = false;
                act = true;
            } else {
                m_pendingModifierTapTime[k] = event.timestamp;
                return;
            }
        } else {
            m_pendingModifierTapTime.erase(k);
            act = true;
        }
        if (act) {
            handleModifierShortcutPress(event);
            m_startModifierBlockedByPhantom = true;
        }
    } else if (isCancel) {
        if (confirmed()) {
            m_pendingModifierTapTime.erase(k);
            handleModifierShortcutPress(event);
        } else {
            m_pendingModifierTapTime[k] = event.timestamp;
        }
    }
}

void HotkeyManager::handleModifierShortcutPress(const KeyEvent& event)
{
    const ShortcutKey start = m_settings.startShortcut();
    const ShortcutKey cancel = m_settings.cancelShortcut();
    if (start.isLoneModifier() && start.matches(event.keysym, event.modifiers))
        m_dictation.toggle(event.frontmostApp());
    else if (cancel.isLoneModifier() && cancel.matches(event.keysym, event.modifiers))
        m_dictation.cancel();
}

} // namespace vel
