#pragma once

#include "common/Task.h"
#include "dictation/SyntheticInput.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QPair>

namespace vel {

class KeyValueStore;
class Logger;

// Paste and Return through org.freedesktop.portal.RemoteDesktop, for desktops that give an
// ordinary client no virtual keyboard (KDE Plasma, GNOME). One keyboard session, started on the
// first paste: the desktop asks the user then. Where the portal persists sessions (version 2),
// its restore token is stored so later starts do not ask again. The keys go as keysyms.
class PortalRemoteDesktop final : public QObject, public SyntheticInput {
    Q_OBJECT
public:
    static inline const QString kTokenKey = QStringLiteral("remote_desktop_restore_token");
    static inline const QString kRefusedReason =
        QStringLiteral("キー入力が許可されませんでした（次回の起動時にもう一度確認します）");

    // The store keeps the restore token (none: every start asks).
    PortalRemoteDesktop(Logger& log, Clock& clock, QDBusConnection bus, uint version, KeyValueStore* store,
                        QObject* parent = nullptr);
    ~PortalRemoteDesktop() override;

    bool isAllowed() const override { return !m_session.isEmpty(); }
    Task<StrokeResult> prepare() override;
    Task<StrokeResult> sendKeyStroke(KeyChord chord, ApplicationRef target) override;

private slots:
    void onSessionClosed();

private:
    Task<bool> startSession();
    Task<void> typePending();

    // KWin lost or reordered key events sent back to back (a V left held, repeating, with Ctrl
    // already up). So each one goes after the last was answered, with a typist's gap.
    static constexpr double kKeyGapSeconds = 0.02;
    struct Stroke {
        QList<QPair<quint32, bool>> keys; // keysym, pressed
        Completion<StrokeResult> done;
    };
    QList<Stroke> m_pending;
    TaskHandle m_typing;

    Logger& m_log;
    Clock& m_clock;
    QDBusConnection m_bus;
    uint m_version;
    KeyValueStore* m_store;
    QString m_session;
    bool m_refused = false;
    bool m_starting = false;
};

} // namespace vel
