#pragma once

#include "dictation/Workspace.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

struct zwlr_foreign_toplevel_handle_v1;

namespace vel {

class WaylandConnection;
class WaylandWorkspace;

// What the compositor says of one top-level window (wlr-foreign-toplevel-management).
struct WaylandToplevel {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    WaylandWorkspace* owner = nullptr; // none once closed
    qint64 id = 0;      // stands for a process id: Wayland gives clients none of another's
    QString appId;
    QString title;
    bool activated = false;
    bool closed = false;
    // Changes wait for the "done" event, which applies them together.
    QString pendingAppId;
    QString pendingTitle;
    bool pendingActivated = false;
};

// The application in front, from the activated toplevel. Windows of this program (its own
// app_id) count as this process; every other toplevel is an application of its own.
class WaylandWorkspace final : public Workspace {
public:
    explicit WaylandWorkspace(WaylandConnection& connection, QString ownAppId);
    ~WaylandWorkspace() override;

    ApplicationRef frontmostApplication() const override;
    qint64 ownProcessId() const override;
    void addActivationObserver(std::function<void(ApplicationRef)> observer) override;

    // For the listeners.
    void added(zwlr_foreign_toplevel_handle_v1* handle);
    void applied(WaylandToplevel& toplevel);
    void closed(WaylandToplevel& toplevel);

private:
    ApplicationRef applicationFor(const std::shared_ptr<WaylandToplevel>& toplevel) const;

    WaylandConnection& m_connection;
    QString m_ownAppId;
    qint64 m_nextId = 1;
    QList<std::shared_ptr<WaylandToplevel>> m_toplevels;
    std::weak_ptr<WaylandToplevel> m_frontmost;
    QList<std::function<void(ApplicationRef)>> m_observers;
};

} // namespace vel
