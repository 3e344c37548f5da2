#pragma once

#include "dictation/Workspace.h"

#include <QObject>

namespace vel {

// Tracks the most recently activated application other than this program, and holds the
// paste target chosen for the current dictation.
class WorkspaceMonitor final : public QObject {
    Q_OBJECT
public:
    explicit WorkspaceMonitor(Workspace& workspace, QObject* parent = nullptr);

    void startTracking();

    ApplicationRef targetApp() const { return m_targetApp; }
    // Notifies only when the application object changes.
    void setTargetApp(ApplicationRef app);
    ApplicationRef lastExternalApp() const { return m_lastExternalApp; }

    // The target rule: the application in front at key time unless it is this program,
    // otherwise the last other application that was active (possibly none).
    void chooseTarget(const ApplicationRef& frontmostAtKeyTime);
    // The application in front now, for a shortcut the desktop reports without a key event.
    ApplicationRef frontmostNow() const { return m_workspace.frontmostApplication(); }

signals:
    void targetAppChanged();

private:
    Workspace& m_workspace;
    ApplicationRef m_targetApp;
    ApplicationRef m_lastExternalApp;
};

} // namespace vel
