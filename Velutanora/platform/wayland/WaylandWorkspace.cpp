#include "platform/wayland/WaylandWorkspace.h"

#include "platform/wayland/WaylandConnection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

#include <wayland-client.h>

#include <unistd.h>

namespace vel {

namespace {

WaylandToplevel& toplevelOf(void* data) { return *static_cast<WaylandToplevel*>(data); }

const zwlr_foreign_toplevel_handle_v1_listener kHandleListener = {
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        toplevelOf(data).pendingTitle = QString::fromUtf8(title);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        toplevelOf(data).pendingAppId = QString::fromUtf8(appId);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        bool activated = false;
        const auto* state = static_cast<const uint32_t*>(states->data);
        for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
            activated = activated || state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        toplevelOf(data).pendingActivated = activated;
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        WaylandToplevel& t = toplevelOf(data);
        if (t.owner)
            t.owner->applied(t);
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        WaylandToplevel& t = toplevelOf(data);
        if (t.owner)
            t.owner->closed(t);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        static_cast<WaylandWorkspace*>(data)->added(handle);
    },
    [](void*, zwlr_foreign_toplevel_manager_v1*) {},
};

// One toplevel as an application: it is active while the compositor says so, and activating
// it asks the compositor to focus it.
class WaylandApplication final : public Application {
public:
    WaylandApplication(std::shared_ptr<WaylandToplevel> toplevel, WaylandConnection& connection, qint64 processId)
        : m_toplevel(std::move(toplevel)), m_connection(connection), m_processId(processId)
    {
    }
    qint64 processId() const override { return m_processId; }
    bool isActive() const override
    {
        return m_toplevel->activated && !m_toplevel->closed;
    }
    bool isTerminated() const override { return m_toplevel->closed; }
    void activate() override
    {
        if (m_toplevel->closed || !m_connection.seat())
            return;
        zwlr_foreign_toplevel_handle_v1_activate(m_toplevel->handle, m_connection.seat());
        m_connection.flush();
    }
    QString windowClass() const override { return m_toplevel->appId; }

private:
    std::shared_ptr<WaylandToplevel> m_toplevel;
    WaylandConnection& m_connection;
    qint64 m_processId;
};

} // namespace

WaylandWorkspace::WaylandWorkspace(WaylandConnection& connection, QString ownAppId)
    : m_connection(connection), m_ownAppId(std::move(ownAppId))
{
    if (connection.toplevels()) {
        zwlr_foreign_toplevel_manager_v1_add_listener(connection.toplevels(), &kManagerListener, this);
        connection.roundtrip();
    }
}

WaylandWorkspace::~WaylandWorkspace()
{
    for (const auto& t : m_toplevels) {
        t->owner = nullptr;
        zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    }
    m_connection.flush();
}

void WaylandWorkspace::added(zwlr_foreign_toplevel_handle_v1* handle)
{
    auto toplevel = std::make_shared<WaylandToplevel>();
    toplevel->handle = handle;
    toplevel->id = m_nextId++;
    toplevel->owner = this;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, toplevel.get());
    m_toplevels.append(std::move(toplevel));
}

void WaylandWorkspace::applied(WaylandToplevel& toplevel)
{
    toplevel.appId = toplevel.pendingAppId;
    toplevel.title = toplevel.pendingTitle;
    const bool becameActive = toplevel.pendingActivated && !toplevel.activated;
    toplevel.activated = toplevel.pendingActivated;
    if (!becameActive)
        return;
    for (const auto& t : m_toplevels) {
        if (t.get() == &toplevel) {
            m_frontmost = t;
            const ApplicationRef app = applicationFor(t);
            for (const auto& observer : m_observers)
                observer(app);
            return;
        }
    }
}

void WaylandWorkspace::closed(WaylandToplevel& toplevel)
{
    toplevel.closed = true;
    toplevel.activated = false;
    toplevel.owner = nullptr;
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
    // Applications made from it keep the record, marked terminated.
    m_toplevels.removeIf([&toplevel](const auto& t) { return t.get() == &toplevel; });
}

ApplicationRef WaylandWorkspace::applicationFor(const std::shared_ptr<WaylandToplevel>& toplevel) const
{
    const qint64 pid = !m_ownAppId.isEmpty() && toplevel->appId == m_ownAppId ? ownProcessId() : -toplevel->id;
    return std::make_shared<WaylandApplication>(toplevel, m_connection, pid);
}

ApplicationRef WaylandWorkspace::frontmostApplication() const
{
    const auto front = m_frontmost.lock();
    return front && front->activated && !front->closed ? applicationFor(front) : nullptr;
}

qint64 WaylandWorkspace::ownProcessId() const { return ::getpid(); }

void WaylandWorkspace::addActivationObserver(std::function<void(ApplicationRef)> observer)
{
    m_observers.append(std::move(observer));
}

} // namespace vel
