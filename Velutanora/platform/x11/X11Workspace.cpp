#include "platform/x11/X11Workspace.h"

#include "platform/x11/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <unistd.h>

namespace vel {

namespace {

unsigned long readWindowProperty(X11Connection& c, Window window, Atom property)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    unsigned long value = 0;
    if (XGetWindowProperty(c.display(), window, property, 0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) == Success
        && data && count > 0 && format == 32)
        value = *reinterpret_cast<unsigned long*>(data);
    if (data)
        XFree(data);
    c.takeError();
    return value;
}

class X11Application final : public Application {
public:
    X11Application(X11Connection& c, Window window, qint64 pid, QString windowClass)
        : m_c(c), m_window(window), m_pid(pid), m_class(std::move(windowClass))
    {
    }
    qint64 processId() const override { return m_pid; }
    bool isActive() const override
    {
        const Atom active = XInternAtom(m_c.display(), "_NET_ACTIVE_WINDOW", False);
        return readWindowProperty(m_c, DefaultRootWindow(m_c.display()), active) == m_window;
    }
    bool isTerminated() const override
    {
        XWindowAttributes attributes;
        const Status ok = XGetWindowAttributes(m_c.display(), m_window, &attributes);
        const int error = m_c.takeError();
        if (!ok || error != 0)
            return true;
        return m_pid > 0 && ::kill(static_cast<pid_t>(m_pid), 0) != 0 && errno == ESRCH;
    }
    void activate() override
    {
        Display* d = m_c.display();
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = m_window;
        event.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // from a pager: window managers honour it without focus-stealing checks
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XFlush(d);
    }
    QString windowClass() const override { return m_class; }

private:
    X11Connection& m_c;
    Window m_window;
    qint64 m_pid;
    QString m_class;
};

} // namespace

X11Workspace::X11Workspace(X11Connection& connection)
    : m_connection(connection), m_activeAtom(XInternAtom(connection.display(), "_NET_ACTIVE_WINDOW", False))
{
    Display* d = m_connection.display();
    XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask);
    XFlush(d);
    m_connection.addListener([this](XEvent& event) {
        if (event.type != PropertyNotify || event.xproperty.atom != m_activeAtom)
            return;
        // Every change is passed on, even to the same window id: the X server reuses the ids of
        // closed windows, so a new window can carry the id of the last active one.
        const ApplicationRef app = applicationForWindow(activeWindow());
        for (const auto& observer : m_observers)
            observer(app);
    });
}

unsigned long X11Workspace::activeWindow() const
{
    return readWindowProperty(m_connection, DefaultRootWindow(m_connection.display()), m_activeAtom);
}

ApplicationRef X11Workspace::applicationForWindow(unsigned long window) const
{
    if (window == 0)
        return nullptr;
    Display* d = m_connection.display();
    const qint64 pid = static_cast<qint64>(readWindowProperty(m_connection, window, XInternAtom(d, "_NET_WM_PID", False)));
    QString windowClass;
    XClassHint hint{};
    if (XGetClassHint(d, window, &hint)) {
        windowClass = QString::fromLocal8Bit(hint.res_name) + QLatin1Char(' ') + QString::fromLocal8Bit(hint.res_class);
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    m_connection.takeError();
    return std::make_shared<X11Application>(m_connection, window, pid, windowClass.trimmed());
}

ApplicationRef X11Workspace::frontmostApplication() const { return applicationForWindow(activeWindow()); }

qint64 X11Workspace::ownProcessId() const { return ::getpid(); }

void X11Workspace::addActivationObserver(std::function<void(ApplicationRef)> observer)
{
    m_observers.push_back(std::move(observer));
}

} // namespace vel
