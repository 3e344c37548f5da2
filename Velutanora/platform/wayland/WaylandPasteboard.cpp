#include "platform/wayland/WaylandPasteboard.h"

#include "platform/wayland/WaylandConnection.h"
#include "wlr-data-control-unstable-v1-client.h"

#include <wayland-client.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vel {

namespace {

const zwlr_data_control_source_v1_listener kSourceListener = {
    [](void* data, zwlr_data_control_source_v1* source, const char*, int32_t fd) {
        static_cast<WaylandPasteboard*>(data)->serve(source, fd);
    },
    [](void* data, zwlr_data_control_source_v1* source) { static_cast<WaylandPasteboard*>(data)->release(source); },
};

// Offers made to this program (the selection of others) are not read; each is let go.
const zwlr_data_control_offer_v1_listener kOfferListener = {
    [](void*, zwlr_data_control_offer_v1*, const char*) {},
};

const zwlr_data_control_device_v1_listener kDeviceListener = {
    [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, nullptr);
    },
    [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        if (offer)
            zwlr_data_control_offer_v1_destroy(offer);
    },
    [](void*, zwlr_data_control_device_v1*) {},
    [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        if (offer)
            zwlr_data_control_offer_v1_destroy(offer);
    },
};

} // namespace

WaylandPasteboard::WaylandPasteboard(WaylandConnection& connection) : m_connection(connection)
{
    // A reader that closes its end early must not end this program.
    std::signal(SIGPIPE, SIG_IGN);
    m_device = zwlr_data_control_manager_v1_get_data_device(connection.dataControl(), connection.seat());
    zwlr_data_control_device_v1_add_listener(m_device, &kDeviceListener, this);
    connection.flush();
}

WaylandPasteboard::~WaylandPasteboard()
{
    if (m_source)
        zwlr_data_control_source_v1_destroy(m_source);
    zwlr_data_control_device_v1_destroy(m_device);
    m_connection.flush();
}

Task<QString> WaylandPasteboard::setText(QString text)
{
    m_text = text.toUtf8();
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(m_connection.dataControl());
    zwlr_data_control_source_v1_add_listener(source, &kSourceListener, this);
    for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING"})
        zwlr_data_control_source_v1_offer(source, type);
    zwlr_data_control_device_v1_set_selection(m_device, source);
    // The new source is the selection now; the old one is let go.
    if (m_source)
        zwlr_data_control_source_v1_destroy(m_source);
    m_source = source;
    // The compositor has the selection before the paste chord is sent.
    if (!m_connection.roundtrip())
        co_return QStringLiteral("Wayland コンポジタとの接続が切れました");
    if (m_source != source)
        co_return QStringLiteral("クリップボードを別のアプリがすぐに取りました");
    co_return QString();
}

void WaylandPasteboard::serve(zwlr_data_control_source_v1* source, int fd)
{
    if (source == m_source) {
        // Blocking writes: a reader takes the text at once, and a large text must arrive whole.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        const char* p = m_text.constData();
        qsizetype left = m_text.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            left -= n;
        }
    }
    ::close(fd);
}

void WaylandPasteboard::release(zwlr_data_control_source_v1* source)
{
    if (source == m_source)
        m_source = nullptr;
    zwlr_data_control_source_v1_destroy(source);
    m_connection.flush();
}

} // namespace vel
