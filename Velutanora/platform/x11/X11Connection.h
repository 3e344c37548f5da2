#pragma once

#include <QObject>

#include <functional>
#include <memory>

struct _XDisplay;
union _XEvent;

class QSocketNotifier;

namespace vel {

// One Xlib connection read on the main thread through a socket notifier. Xlib stays inside
// the platform's own translation units; this header names none of its macros.
class X11Connection final : public QObject {
    Q_OBJECT
public:
    // Opens the display of $DISPLAY; null when there is none.
    static std::unique_ptr<X11Connection> open();
    ~X11Connection() override;

    _XDisplay* display() const { return m_display; }
    unsigned long rootWindow() const;
    // Called for every event read from the connection.
    void addListener(std::function<void(_XEvent&)> listener) { m_listeners.push_back(std::move(listener)); }
    // Reads what is queued now (also called by the notifier).
    void drain();
    // The last X error on this connection since the previous call (0 when none), after a sync.
    int takeError();

private:
    explicit X11Connection(_XDisplay* display);
    _XDisplay* m_display;
    QSocketNotifier* m_notifier;
    bool m_draining = false;
    std::vector<std::function<void(_XEvent&)>> m_listeners;
};

} // namespace vel
