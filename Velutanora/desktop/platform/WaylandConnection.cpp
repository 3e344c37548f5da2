#include "desktop/platform/WaylandConnection.h"

#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

#include <QSocketNotifier>

#include <wayland-client.h>

#include <algorithm>

namespace vel {

namespace {

const wl_registry_listener kRegistryListener = {
    [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
        static_cast<WaylandConnection*>(data)->onGlobalForListener(registry, name, interface, version);
    },
    [](void*, wl_registry*, uint32_t) {},
};

template <class T>
T* bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered, uint32_t wanted)
{
    return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

} // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return nullptr;
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
    connection->m_registry = wl_display_get_registry(display);
    wl_registry_add_listener(connection->m_registry, &kRegistryListener, connection.get());
    if (wl_display_roundtrip(display) < 0)
        return nullptr;
    // The seat's and the toplevel manager's first events.
    connection->roundtrip();
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : m_display(display)
{
    m_notifier = new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { dispatch(); });
}

WaylandConnection::~WaylandConnection()
{
    delete m_notifier;
    if (m_toplevels)
        zwlr_foreign_toplevel_manager_v1_destroy(m_toplevels);
    if (m_virtualKeyboards)
        zwp_virtual_keyboard_manager_v1_destroy(m_virtualKeyboards);
    if (m_dataControl)
        zwlr_data_control_manager_v1_destroy(m_dataControl);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

void WaylandConnection::onGlobalForListener(wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    const QString iface = QString::fromLatin1(interface);
    m_offered.append(iface);
    // The first seat is the user's; data-control version 2 adds the primary selection, unused here.
    if (iface == QLatin1String(wl_seat_interface.name) && !m_seat)
        m_seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 1);
    else if (iface == QLatin1String(zwlr_data_control_manager_v1_interface.name))
        m_dataControl = bind<zwlr_data_control_manager_v1>(registry, name, &zwlr_data_control_manager_v1_interface, version, 1);
    else if (iface == QLatin1String(zwp_virtual_keyboard_manager_v1_interface.name))
        m_virtualKeyboards = bind<zwp_virtual_keyboard_manager_v1>(registry, name, &zwp_virtual_keyboard_manager_v1_interface, version, 1);
    else if (iface == QLatin1String(zwlr_foreign_toplevel_manager_v1_interface.name))
        m_toplevels = bind<zwlr_foreign_toplevel_manager_v1>(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, version, 3);
}

void WaylandConnection::flush() { wl_display_flush(m_display); }

bool WaylandConnection::roundtrip() { return wl_display_roundtrip(m_display) >= 0; }

void WaylandConnection::dispatch()
{
    // Only this thread reads the connection: read what the notifier saw, then handle it.
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    wl_display_flush(m_display);
    wl_display_read_events(m_display);
    wl_display_dispatch_pending(m_display);
    wl_display_flush(m_display);
    // A connection the compositor has closed would wake the notifier for ever.
    if (wl_display_get_error(m_display) != 0)
        m_notifier->setEnabled(false);
}

} // namespace vel
