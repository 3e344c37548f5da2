#pragma once

#include "dictation/DesktopShortcuts.h"
#include "dictation/KeyboardMonitor.h"
#include "dictation/Pasteboard.h"
#include "dictation/SyntheticInput.h"

#include <QString>

#include <memory>

namespace vel {

class Clock;
class GnomeShellExtension;
class KeyValueStore;
class Logger;
class WaylandConnection;
class X11Connection;

// The clipboard through Qt (this program stays its owner while it runs, so the target can
// read it; the previous contents are not restored).
class QtPasteboard final : public Pasteboard {
public:
    Task<QString> setText(QString text) override;
};

// The desktop backends, chosen at run time: X11 when Qt runs on xcb and the X server offers
// XInput2 and XTEST; Wayland when Qt runs on wayland, with what the compositor's globals allow
// (wlroots: data-control, virtual keyboard, foreign toplevels) and the desktop's D-Bus services
// (KDE: the GlobalShortcuts and RemoteDesktop portals, KGlobalAccel; GNOME: the program's Shell
// extension, else mutter's remote-desktop API and custom shortcuts). Wayland gives a
// program no key grab of its own: a desktop service binds the shortcuts, or else the compositor
// runs `velutanora --toggle` / `--cancel`. What cannot work is unavailable, `problem` says why,
// and the program runs on.
struct DesktopBackend {
    std::unique_ptr<X11Connection> grabConnection;
    std::unique_ptr<X11Connection> rawConnection;
    std::unique_ptr<WaylandConnection> wayland;
    std::unique_ptr<GnomeShellExtension> gnomeShell; // the program's extension, where it is active
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<KeyboardMonitor> keyboard;
    std::unique_ptr<SyntheticInput> input;
    std::unique_ptr<Pasteboard> pasteboard;
    std::unique_ptr<DesktopShortcuts> shortcuts; // a desktop service binds them (Wayland)
    QList<DesktopCapability> capabilities;
    QString problem; // empty when everything works
    // Why a lone modifier key cannot be a shortcut here (empty: it can).
    QString loneModifierProblem;
    QString status;  // the status line that tells the user, when something does not work
    bool shortcutsBoundByDesktop = false; // the compositor's own configuration runs --toggle / --cancel
    // Whether the floating panel can show without taking the keyboard from the target: a
    // Qt::Tool window on X11, a layer-shell overlay on Wayland (an ordinary window becomes a
    // tiled, focused one on sway).
    bool panelKeepsFocusAway = true;

    // The store keeps what a desktop grants for good (the remote-desktop restore token).
    static DesktopBackend create(Logger& log, Clock& clock, KeyValueStore* store = nullptr);
    ~DesktopBackend();
    DesktopBackend();
    DesktopBackend(DesktopBackend&&) noexcept;
    DesktopBackend& operator=(DesktopBackend&&) noexcept;

    // The status line shown when the desktop cannot give global keys.
    static QString unsupportedStatus();
    // The same on a Wayland compositor without what paste needs.
    static QString waylandStatus();
};

// Whether a portal backend's .portal file says it serves the interface on that desktop.
bool portalFileServes(const QString& text, const QString& desktop, const QString& interface);

} // namespace vel
