#pragma once

#include "desktop/DesktopSeams.h"

#include <QString>

#include <memory>

namespace vel {

class Logger;
class WaylandConnection;
class X11Connection;

// The clipboard through Qt (this program stays its owner while it runs, so the target can
// read it; the previous contents are not restored).
class QtPasteboard final : public Pasteboard {
public:
    void setText(const QString& text) override;
};

// The desktop backends, chosen at run time: X11 when Qt runs on xcb and the X server offers
// XInput2 and XTEST; Wayland when Qt runs on wayland, with what the compositor's globals allow
// (wlroots: data-control, virtual keyboard, foreign toplevels). Wayland gives a program no key
// grab of its own: there the compositor binds the shortcuts to `velutanora --toggle` /
// `--cancel`. What cannot work is unavailable, `problem` says why, and the program runs on.
struct DesktopBackend {
    std::unique_ptr<X11Connection> grabConnection;
    std::unique_ptr<X11Connection> rawConnection;
    std::unique_ptr<WaylandConnection> wayland;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<KeyboardMonitor> keyboard;
    std::unique_ptr<SyntheticInput> input;
    std::unique_ptr<Pasteboard> pasteboard;
    QString problem; // empty when everything works
    QString status;  // the status line that tells the user, when something does not work
    bool shortcutsBoundByDesktop = false; // the compositor runs --toggle / --cancel
    // Whether the floating panel can show without taking the keyboard from the target: a
    // Qt::Tool window on X11, a layer-shell overlay on Wayland (an ordinary window becomes a
    // tiled, focused one on sway).
    bool panelKeepsFocusAway = true;

    static DesktopBackend create(Logger& log);
    ~DesktopBackend();
    DesktopBackend();
    DesktopBackend(DesktopBackend&&) noexcept;
    DesktopBackend& operator=(DesktopBackend&&) noexcept;

    // The status line shown when the desktop cannot give global keys.
    static QString unsupportedStatus();
    // The same on a Wayland compositor without what paste needs.
    static QString waylandStatus();
};

} // namespace vel
