#pragma once

#include "desktop/DesktopSeams.h"

#include <QString>

#include <memory>

namespace vel {

class Logger;
class X11Connection;

// The clipboard through Qt (this program stays its owner while it runs, so the target can
// read it; the previous contents are not restored).
class QtPasteboard final : public Pasteboard {
public:
    void setText(const QString& text) override;
};

// The desktop backends, chosen at run time: X11 when Qt runs on xcb and the X server offers
// XInput2 and XTEST. Elsewhere (Wayland, no extensions) the keyboard and synthetic input are
// unavailable, `problem` says why, and the program runs on with what it can do.
struct DesktopBackend {
    std::unique_ptr<X11Connection> grabConnection;
    std::unique_ptr<X11Connection> rawConnection;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<KeyboardMonitor> keyboard;
    std::unique_ptr<SyntheticInput> input;
    std::unique_ptr<Pasteboard> pasteboard;
    QString problem; // empty when everything works

    static DesktopBackend create(Logger& log);
    ~DesktopBackend();
    DesktopBackend();
    DesktopBackend(DesktopBackend&&) noexcept;
    DesktopBackend& operator=(DesktopBackend&&) noexcept;

    // The status line shown when the desktop cannot give global keys.
    static QString unsupportedStatus();
};

} // namespace vel
