#include "platform/wayland/WaylandConnection.h"

#include "virtual-keyboard-unstable-v1-client.h"
#include "platform/wayland/WaylandLayerShell.h"
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

WaylandConnection& connectionOf(void* data) { return *static_cast<WaylandConnection*>(data); }

const wl_seat_listener kSeatListener = {
    [](void* data, wl_seat*, uint32_t capabilities) { connectionOf(data).onSeatCapabilities(capabilities); },
    [](void*, wl_seat*, const char*) {},
};

const wl_pointer_listener kPointerListener = {
    [](void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
        connectionOf(data).onPointerEnter(surface, QPoint(wl_fixed_to_int(x), wl_fixed_to_int(y)));
    },
    [](void* data, wl_pointer*, uint32_t, wl_surface*) { connectionOf(data).onPointerEnter(nullptr, QPoint()); },
    [](void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
        connectionOf(data).onPointerMotion(QPoint(wl_fixed_to_int(x), wl_fixed_to_int(y)));
    },
    [](void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
        if (button == 0x110) // BTN_LEFT
            connectionOf(data).onPointerButton(state == WL_POINTER_BUTTON_STATE_PRESSED);
    },
    [](void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {},
    [](void*, wl_pointer*) {},
    [](void*, wl_pointer*, uint32_t) {},
    [](void*, wl_pointer*, uint32_t, uint32_t) {},
    [](void*, wl_pointer*, uint32_t, int32_t) {},
    [](void*, wl_pointer*, uint32_t, int32_t) {},
#ifdef WL_POINTER_AXIS_RELATIVE_DIRECTION_SINCE_VERSION
    // libwayland 1.22 and later know this event; the seat is bound at version 1, which never sends it.
    [](void*, wl_pointer*, uint32_t, uint32_t) {},
#endif
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
    if (m_pointer)
        wl_pointer_destroy(m_pointer);
    if (m_layerShell)
        zwlr_layer_shell_v1_destroy(m_layerShell);
    if (m_shm)
        wl_shm_destroy(m_shm);
    if (m_compositor)
        wl_compositor_destroy(m_compositor);
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
    // The first seat is the user's; data-control version 2 adds the primary selection, unused here.
    if (iface == QLatin1String(wl_seat_interface.name) && !m_seat) {
        m_seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 1);
        wl_seat_add_listener(m_seat, &kSeatListener, this);
    } else if (iface == QLatin1String(wl_compositor_interface.name))
        m_compositor = bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 4);
    else if (iface == QLatin1String(wl_shm_interface.name))
        m_shm = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
    else if (iface == QLatin1String(zwlr_layer_shell_v1_interface.name))
        m_layerShell = bind<zwlr_layer_shell_v1>(registry, name, &zwlr_layer_shell_v1_interface, version, 1);
    else if (iface == QLatin1String(zwlr_data_control_manager_v1_interface.name))
        m_dataControl = bind<zwlr_data_control_manager_v1>(registry, name, &zwlr_data_control_manager_v1_interface, version, 1);
    else if (iface == QLatin1String(zwp_virtual_keyboard_manager_v1_interface.name))
        m_virtualKeyboards = bind<zwp_virtual_keyboard_manager_v1>(registry, name, &zwp_virtual_keyboard_manager_v1_interface, version, 1);
    else if (iface == QLatin1String(zwlr_foreign_toplevel_manager_v1_interface.name))
        m_toplevels = bind<zwlr_foreign_toplevel_manager_v1>(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, version, 3);
}

void WaylandConnection::onSeatCapabilities(uint32_t capabilities)
{
    const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    if (hasPointer && !m_pointer) {
        m_pointer = wl_seat_get_pointer(m_seat);
        wl_pointer_add_listener(m_pointer, &kPointerListener, this);
    } else if (!hasPointer && m_pointer) {
        wl_pointer_destroy(m_pointer);
        m_pointer = nullptr;
    }
}

void WaylandConnection::onPointerEnter(wl_surface* surface, QPoint position)
{
    m_pointerSurface = surface;
    m_pointerPosition = position;
}

void WaylandConnection::onPointerMotion(QPoint position) { m_pointerPosition = position; }

void WaylandConnection::onPointerButton(bool pressed)
{
    // The click counts where the button goes up, as a button's does.
    if (!pressed && m_pointerSurface && onClick)
        onClick(m_pointerSurface, m_pointerPosition);
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
