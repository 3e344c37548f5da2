#include "platform/x11/X11Connection.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <X11/Xlib.h>

#include <map>
#include <mutex>

namespace vel {

namespace {

// Xlib's default error handler ends the process; ours records the error for the connection.
std::mutex g_errorsLock;
std::map<Display*, int> g_errors;

int recordError(Display* display, XErrorEvent* event)
{
    std::lock_guard guard(g_errorsLock);
    g_errors[display] = event->error_code;
    return 0;
}

} // namespace

std::unique_ptr<X11Connection> X11Connection::open()
{
    static const bool handlerInstalled = [] {
        XSetErrorHandler(recordError);
        return true;
    }();
    Q_UNUSED(handlerInstalled);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(_XDisplay* display) : m_display(display)
{
    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11Connection::drain);
    // Our own round trips (property reads, syncs) can pull events into Xlib's queue without the
    // socket becoming readable again: look at the queue whenever the loop is about to sleep.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &X11Connection::drain);
}

X11Connection::~X11Connection()
{
    delete m_notifier;
    {
        std::lock_guard guard(g_errorsLock);
        g_errors.erase(m_display);
    }
    XCloseDisplay(m_display);
}

unsigned long X11Connection::rootWindow() const { return DefaultRootWindow(m_display); }

void X11Connection::drain()
{
    if (m_draining)
        return; // a listener's own round trip must not re-enter
    m_draining = true;
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        for (auto& listener : m_listeners)
            listener(event);
    }
    m_draining = false;
}

int X11Connection::takeError()
{
    XSync(m_display, False);
    std::lock_guard guard(g_errorsLock);
    auto it = g_errors.find(m_display);
    if (it == g_errors.end())
        return 0;
    const int code = it->second;
    g_errors.erase(it);
    return code;
}

} // namespace vel
