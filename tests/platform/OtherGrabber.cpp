#include "OtherGrabber.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <initializer_list>

bool OtherGrabber::grabAltSpace()
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return false;
    m_display = d;
    const KeyCode space = XKeysymToKeycode(d, XK_space);
    for (unsigned extra : {0u, unsigned(LockMask), unsigned(Mod2Mask), unsigned(LockMask | Mod2Mask)})
        XGrabKey(d, space, Mod1Mask | extra, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync);
    XSync(d, False);
    return true;
}

OtherGrabber::~OtherGrabber()
{
    if (m_display)
        XCloseDisplay(static_cast<Display*>(m_display));
}
