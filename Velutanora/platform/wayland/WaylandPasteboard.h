#pragma once

#include "dictation/Pasteboard.h"

#include <QByteArray>

struct zwlr_data_control_device_v1;
struct zwlr_data_control_source_v1;

namespace vel {

class WaylandConnection;

// The clipboard through wlr-data-control: it needs no focused window (Qt's clipboard, from a
// program without one, is silently ignored by the compositor). The text is served to every
// reader until another client takes the selection.
class WaylandPasteboard final : public Pasteboard {
public:
    explicit WaylandPasteboard(WaylandConnection& connection);
    ~WaylandPasteboard() override;
    Task<QString> setText(QString text) override;

    // For the listeners.
    void serve(zwlr_data_control_source_v1* source, int fd);
    void release(zwlr_data_control_source_v1* source);

private:
    WaylandConnection& m_connection;
    zwlr_data_control_device_v1* m_device = nullptr;
    zwlr_data_control_source_v1* m_source = nullptr;
    QByteArray m_text;
};

} // namespace vel
