#include "dictation/WorkspaceMonitor.h"

#include "common/Task.h"

#include <QPointer>

namespace vel {

WorkspaceMonitor::WorkspaceMonitor(Workspace& workspace, QObject* parent) : QObject(parent), m_workspace(workspace) {}

void WorkspaceMonitor::setTargetApp(ApplicationRef app)
{
    if (app == m_targetApp)
        return;
    m_targetApp = std::move(app);
    emit targetAppChanged();
}

void WorkspaceMonitor::startTracking()
{
    const qint64 self = m_workspace.ownProcessId();
    const ApplicationRef front = m_workspace.frontmostApplication();
    if (!front || front->processId() != self)
        m_lastExternalApp = front;

    QPointer<WorkspaceMonitor> guard(this);
    m_workspace.addActivationObserver([guard, self](ApplicationRef app) {
        if (!app || app->processId() == self)
            return;
        // Lands after whatever the main thread is doing now.
        postToMainLoop([guard, app] {
            if (guard)
                guard->m_lastExternalApp = app;
        });
    });
}

void WorkspaceMonitor::chooseTarget(const ApplicationRef& frontmostAtKeyTime)
{
    if (frontmostAtKeyTime && frontmostAtKeyTime->processId() != m_workspace.ownProcessId())
        setTargetApp(frontmostAtKeyTime);
    else
        setTargetApp(m_lastExternalApp);
}

} // namespace vel
