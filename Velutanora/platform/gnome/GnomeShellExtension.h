#pragma once

#include "common/Task.h"
#include "dictation/DesktopShortcuts.h"
#include "dictation/Pasteboard.h"
#include "dictation/SyntheticInput.h"

#include <QDBusConnection>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QVariantMap>

namespace vel {

class Logger;

// The program's GNOME Shell extension (gnome-shell-extension/), over its D-Bus interface on the
// shell's own connection: the clipboard, three fixed chords through the shell's one virtual
// keyboard, the focused window, and grabs that the shell drops when this connection leaves the
// bus. It is what makes GNOME on Wayland work like X11. The extension answers only the owner of
// kProgramName, which this connection asks for (queued behind a running owner). The focused
// window comes with each focus change, so nothing here waits for the shell on the main loop
// but the grabs.
class GnomeShellExtension final : public QObject {
    Q_OBJECT
public:
    // One package for every GNOME: the script form for 43-44 and the module form for 45 and
    // later, under two uuids; each declares its shells, so a shell loads the one it can.
    static inline const QString kLegacyUuid = QStringLiteral("velutanora@velutanora.org");
    static inline const QString kModuleUuid = QStringLiteral("velutanora-gnome45@velutanora.org");
    static inline const QStringList kUuids{kLegacyUuid, kModuleUuid};
    static inline const QString kService = QStringLiteral("org.gnome.Shell");
    static inline const QString kPath = QStringLiteral("/org/velutanora/GnomeShell");
    static inline const QString kInterface = QStringLiteral("org.velutanora.GnomeShell1");
    static inline const QString kProgramName = QStringLiteral("org.velutanora.Velutanora");
    static constexpr uint kVersion = 2;

    // Where the extension stands, as the shell reports it.
    enum class State { NotInstalled, NeedsRelogin, Disabled, Failed, Active };
    struct Standing {
        State state = State::NotInstalled;
        uint version = 0; // the interface's, while active
        QString detail;   // the shell's error, when it failed to load
        QString uuid;     // the form this stands for: the active one, else the one this shell can load
    };
    static Standing probe(const QDBusConnection& bus);
    // The folders a shell loads the form from (the user's, then the system's).
    static QStringList installFolders(const QString& uuid);
    // Asks the shell to enable the form (the settings window's button); false when it did not.
    static bool enable(const QDBusConnection& bus, const QString& uuid);
    // For the settings window: the state in words.
    static QString describe(const Standing& status);

    GnomeShellExtension(Logger& log, QDBusConnection bus, QObject* parent = nullptr);

    // Ends empty when the shell took the text, else with why not, in words for the user.
    Task<QString> setClipboard(QString text);
    // "paste", "terminal-paste" or "return"; ends once the keys went out.
    Task<StrokeResult> pressChord(QString chord);
    // The focused window as the shell last told it: id, app-id, wm-class, pid and client ("x11",
    // "wayland"); empty when no window has the focus.
    QVariantMap focusedWindow() const { return m_focused; }
    // Asks the shell to bring the window forward; the focus change tells whether it came.
    void activateWindow(quint64 id);
    // The shell found no such window when asked to activate it.
    bool isGone(quint64 id) const { return m_gone.contains(id); }
    // Empty when the accelerator is grabbed for this connection, kTaken when the shell already
    // uses it, else why not.
    static inline const QString kTaken = QStringLiteral("taken");
    QString grab(const QString& action, const QString& accelerator);
    void ungrab(const QString& action);

signals:
    void activated(const QString& action);
    void focusChanged();

private slots:
    void onFocusChanged(const QVariantMap& window);

private:
    QDBusMessage call(const QString& method, const QVariantList& arguments) const;
    void callLater(const QString& method, const QVariantList& arguments);

    Logger& m_log;
    QDBusConnection m_bus;
    QVariantMap m_focused;
    QSet<quint64> m_gone;
};

// The adapters the desktop backend installs when the extension is active.
class GnomeShellPasteboard final : public Pasteboard {
public:
    explicit GnomeShellPasteboard(GnomeShellExtension& shell) : m_shell(shell) {}
    Task<QString> setText(QString text) override { return m_shell.setClipboard(std::move(text)); }

private:
    GnomeShellExtension& m_shell;
};

class GnomeShellInput final : public SyntheticInput {
public:
    explicit GnomeShellInput(GnomeShellExtension& shell) : m_shell(shell) {}
    bool isAllowed() const override { return true; }
    Task<StrokeResult> sendKeyStroke(KeyChord chord, ApplicationRef target) override;
    // The extension's name for a chord; empty for one it does not press.
    static QString chordName(const KeyChord& chord);

private:
    GnomeShellExtension& m_shell;
};

class GnomeShellWorkspace final : public Workspace {
public:
    explicit GnomeShellWorkspace(GnomeShellExtension& shell);
    ApplicationRef frontmostApplication() const override;
    qint64 ownProcessId() const override;
    void addActivationObserver(std::function<void(ApplicationRef)> observer) override;

private:
    GnomeShellExtension& m_shell;
};

class GnomeShellShortcuts final : public QObject, public DesktopShortcuts {
    Q_OBJECT
public:
    GnomeShellShortcuts(Logger& log, GnomeShellExtension& shell, QObject* parent = nullptr);
    ~GnomeShellShortcuts() override;
    void bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel) override;
    void setCancelActive(bool active) override;
    QString mechanism() const override { return QStringLiteral("GNOME Shell 拡張機能"); }
    QString trigger(const QString& id) const override { return m_triggers.value(id); }
    QString problem() const override { return m_problem; }

private:
    void grab(const QString& id, const std::optional<ShortcutKey>& key);

    Logger& m_log;
    GnomeShellExtension& m_shell;
    std::optional<ShortcutKey> m_cancel;
    bool m_cancelActive = false;
    QMap<QString, QString> m_triggers;
    QString m_problem;
};

} // namespace vel
