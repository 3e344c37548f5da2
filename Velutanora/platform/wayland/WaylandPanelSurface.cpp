#include "platform/wayland/WaylandPanelSurface.h"

#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandLayerShell.h"

#include <QImage>
#include <QPainter>
#include <QTimer>

#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

namespace vel {

namespace {

WaylandPanelSurface& surfaceOf(void* data) { return *static_cast<WaylandPanelSurface*>(data); }

const zwlr_layer_surface_v1_listener kLayerListener = {
    [](void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t, uint32_t) { surfaceOf(data).configured(serial); },
    [](void* data, zwlr_layer_surface_v1*) { surfaceOf(data).closedByCompositor(); },
};

const wl_buffer_listener kBufferListener = {
    [](void* data, wl_buffer* buffer) { surfaceOf(data).released(buffer); },
};

constexpr int kFrameMs = 33;

} // namespace

bool WaylandPanelSurface::isAvailable(const WaylandConnection& connection)
{
    return connection.compositor() && connection.shm() && connection.layerShell();
}

WaylandPanelSurface::WaylandPanelSurface(WaylandConnection& connection, QSize size, int bottomMargin, QObject* parent)
    : QObject(parent), m_connection(connection), m_size(size), m_bottomMargin(bottomMargin), m_frames(new QTimer(this))
{
    m_frames->setInterval(kFrameMs);
    connect(m_frames, &QTimer::timeout, this, &WaylandPanelSurface::draw);
    const int stride = size.width() * 4;
    const size_t frameBytes = static_cast<size_t>(stride) * static_cast<size_t>(size.height());
    m_mapBytes = frameBytes * 2;
    m_fd = ::memfd_create("velutanora-panel", MFD_CLOEXEC);
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(m_mapBytes)) != 0)
        return;
    void* map = ::mmap(nullptr, m_mapBytes, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (map == MAP_FAILED)
        return;
    m_map = static_cast<uchar*>(map);
    wl_shm_pool* pool = wl_shm_create_pool(connection.shm(), m_fd, static_cast<int32_t>(m_mapBytes));
    for (int i = 0; i < 2; ++i) {
        Buffer& b = m_buffers[i];
        b.pixels = m_map + frameBytes * static_cast<size_t>(i);
        b.buffer = wl_shm_pool_create_buffer(pool, static_cast<int32_t>(frameBytes) * i, size.width(), size.height(),
                                             stride, WL_SHM_FORMAT_ARGB8888);
        wl_buffer_add_listener(b.buffer, &kBufferListener, this);
    }
    wl_shm_pool_destroy(pool);
    connection.onClick = [this](wl_surface* surface, QPoint position) {
        if (surface && surface == m_surface && clicked)
            clicked(position);
    };
}

WaylandPanelSurface::~WaylandPanelSurface()
{
    m_connection.onClick = nullptr;
    destroySurface();
    for (Buffer& b : m_buffers)
        if (b.buffer)
            wl_buffer_destroy(b.buffer);
    if (m_map)
        ::munmap(m_map, m_mapBytes);
    if (m_fd >= 0)
        ::close(m_fd);
    m_connection.flush();
}

void WaylandPanelSurface::show()
{
    if (m_surface || !m_map)
        return;
    m_surface = wl_compositor_create_surface(m_connection.compositor());
    m_layer = zwlr_layer_shell_v1_get_layer_surface(m_connection.layerShell(), m_surface, nullptr,
                                                    ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "velutanora-panel");
    zwlr_layer_surface_v1_add_listener(m_layer, &kLayerListener, this);
    zwlr_layer_surface_v1_set_size(m_layer, static_cast<uint32_t>(m_size.width()), static_cast<uint32_t>(m_size.height()));
    zwlr_layer_surface_v1_set_anchor(m_layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM);
    zwlr_layer_surface_v1_set_margin(m_layer, 0, 0, m_bottomMargin, 0);
    zwlr_layer_surface_v1_set_keyboard_interactivity(m_layer, 0);
    // The first commit carries no buffer: the compositor answers with a configure.
    wl_surface_commit(m_surface);
    m_connection.flush();
}

void WaylandPanelSurface::hide()
{
    destroySurface();
    m_connection.flush();
}

void WaylandPanelSurface::destroySurface()
{
    m_frames->stop();
    if (m_layer)
        zwlr_layer_surface_v1_destroy(m_layer);
    if (m_surface)
        wl_surface_destroy(m_surface);
    m_layer = nullptr;
    m_surface = nullptr;
    m_configured = false;
    m_framesShown = 0;
    // A destroyed surface holds no buffer.
    for (Buffer& b : m_buffers)
        b.busy = false;
}

void WaylandPanelSurface::configured(uint32_t serial)
{
    zwlr_layer_surface_v1_ack_configure(m_layer, serial);
    m_configured = true;
    draw();
    m_frames->start();
}

void WaylandPanelSurface::closedByCompositor() { hide(); }

void WaylandPanelSurface::released(wl_buffer* buffer)
{
    for (Buffer& b : m_buffers)
        if (b.buffer == buffer)
            b.busy = false;
}

void WaylandPanelSurface::draw()
{
    if (!m_surface || !m_configured)
        return;
    Buffer* free = !m_buffers[0].busy ? &m_buffers[0] : !m_buffers[1].busy ? &m_buffers[1] : nullptr;
    if (!free)
        return;
    QImage image(free->pixels, m_size.width(), m_size.height(), m_size.width() * 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (paint) {
        QPainter painter(&image);
        paint(painter);
    }
    wl_surface_attach(m_surface, free->buffer, 0, 0);
    wl_surface_damage(m_surface, 0, 0, m_size.width(), m_size.height());
    wl_surface_commit(m_surface);
    free->busy = true;
    ++m_framesShown;
    m_connection.flush();
}

} // namespace vel
