#pragma once

#include <QObject>
#include <QPoint>
#include <QSize>

#include <functional>

class QPainter;
class QTimer;
struct wl_buffer;
struct wl_surface;
struct zwlr_layer_surface_v1;

namespace vel {

class WaylandConnection;

// The floating panel as a layer-shell overlay at the bottom centre of the output, which never
// takes the keyboard (keyboard_interactivity none): an ordinary window would become a tiled,
// focused one on sway. Qt 6.4 has no public way to give its own windows this role, so the
// panel's widget is painted into this surface's shared-memory buffer, a frame at a time while
// it shows, and the pointer's clicks are handed back to it.
class WaylandPanelSurface final : public QObject {
    Q_OBJECT
public:
    static bool isAvailable(const WaylandConnection& connection);

    WaylandPanelSurface(WaylandConnection& connection, QSize size, int bottomMargin, QObject* parent = nullptr);
    ~WaylandPanelSurface() override;

    void show();
    void hide();
    // The compositor has placed the surface and it holds a frame.
    bool isMapped() const { return m_framesShown > 0; }
    int framesShown() const { return m_framesShown; }

    // Paints one frame (the buffer is cleared first).
    std::function<void(QPainter&)> paint;
    // A click at a point of the panel.
    std::function<void(QPoint)> clicked;

    // For the listeners.
    void configured(uint32_t serial);
    void closedByCompositor();
    void released(wl_buffer* buffer);

private:
    void draw();
    void destroySurface();

    WaylandConnection& m_connection;
    QSize m_size;
    int m_bottomMargin;
    wl_surface* m_surface = nullptr;
    zwlr_layer_surface_v1* m_layer = nullptr;
    // Two buffers: a compositor may keep the shown one until the next replaces it.
    struct Buffer {
        wl_buffer* buffer = nullptr;
        uchar* pixels = nullptr;
        bool busy = false; // the compositor still reads it
    };
    Buffer m_buffers[2];
    uchar* m_map = nullptr;
    size_t m_mapBytes = 0;
    int m_fd = -1;
    bool m_configured = false;
    int m_framesShown = 0;
    QTimer* m_frames;
};

} // namespace vel
