#pragma once

#include "dictation/Workspace.h"

#include <functional>
#include <vector>

namespace vel {

class X11Connection;

// The active window from _NET_ACTIVE_WINDOW (followed through PropertyNotify on the root
// window); an application is a top-level window plus its _NET_WM_PID.
class X11Workspace final : public Workspace {
public:
    explicit X11Workspace(X11Connection& connection);

    ApplicationRef frontmostApplication() const override;
    qint64 ownProcessId() const override;
    void addActivationObserver(std::function<void(ApplicationRef)> observer) override;

    unsigned long activeWindow() const;
    ApplicationRef applicationForWindow(unsigned long window) const;

private:
    X11Connection& m_connection;
    unsigned long m_activeAtom;
    std::vector<std::function<void(ApplicationRef)>> m_observers;
};

} // namespace vel
