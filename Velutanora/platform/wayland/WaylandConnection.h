#pragma once

#include <QObject>
#include <QPoint>

#include <functional>
#include <memory>

struct wl_compositor;
struct wl_display;
struct wl_pointer;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct wl_registry;
struct wl_seat;
struct zwlr_data_control_manager_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwp_virtual_keyboard_manager_v1;

class QSocketNotifier;

namespace vel {

// The program's own libwayland-client connection to the compositor Qt runs on (a second one
// beside Qt's, read on the main thread through a socket notifier, like the X11 backend's), with
// the globals the backends use bound once. Wayland stays inside the platform's own translation
// units; this header names none of its types' members.
class WaylandConnection final : public QObject {
    Q_OBJECT
public:
    // Connects to $WAYLAND_DISPLAY; null when there is none.
    static std::unique_ptr<WaylandConnection> open();
    ~WaylandConnection() override;

    wl_display* display() const { return m_display; }
    wl_seat* seat() const { return m_seat; }
    zwlr_data_control_manager_v1* dataControl() const { return m_dataControl; }
    zwp_virtual_keyboard_manager_v1* virtualKeyboards() const { return m_virtualKeyboards; }
    zwlr_foreign_toplevel_manager_v1* toplevels() const { return m_toplevels; }
    wl_compositor* compositor() const { return m_compositor; }
    wl_shm* shm() const { return m_shm; }
    zwlr_layer_shell_v1* layerShell() const { return m_layerShell; }

    // A click of the seat's pointer on one of this connection's surfaces, at surface coordinates.
    std::function<void(wl_surface* surface, QPoint position)> onClick;

    // Sends what is queued; the backends call it after their requests.
    void flush();
    // Waits until the compositor has handled everything sent so far (and its answers are read).
    bool roundtrip();
    // Reads and handles what has arrived (also called by the notifier).
    void dispatch();

    // For the registry listener.
    void onGlobalForListener(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    void onSeatCapabilities(uint32_t capabilities);
    void onPointerEnter(wl_surface* surface, QPoint position);
    void onPointerMotion(QPoint position);
    void onPointerButton(bool pressed);

private:
    explicit WaylandConnection(wl_display* display);

    wl_display* m_display;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwlr_data_control_manager_v1* m_dataControl = nullptr;
    zwp_virtual_keyboard_manager_v1* m_virtualKeyboards = nullptr;
    zwlr_foreign_toplevel_manager_v1* m_toplevels = nullptr;
    wl_compositor* m_compositor = nullptr;
    wl_shm* m_shm = nullptr;
    zwlr_layer_shell_v1* m_layerShell = nullptr;
    wl_pointer* m_pointer = nullptr;
    wl_surface* m_pointerSurface = nullptr;
    QPoint m_pointerPosition;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vel
