#include "desktop/platform/DesktopBackend.h"

#include "common/Logger.h"
#include "desktop/HeadlessDesktop.h"
#include "desktop/platform/WaylandConnection.h"
#include "desktop/platform/WaylandPanelSurface.h"
#include "desktop/platform/WaylandPasteboard.h"
#include "desktop/platform/WaylandSyntheticInput.h"
#include "desktop/platform/WaylandWorkspace.h"
#include "desktop/platform/X11Connection.h"
#include "desktop/platform/X11Keyboard.h"
#include "desktop/platform/X11SyntheticInput.h"
#include "desktop/platform/X11Workspace.h"

#include <QClipboard>
#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace vel {

namespace {

class UnavailableKeyboard final : public KeyboardMonitor {
public:
    bool installTap() override { return false; }
    void startMonitors() override {}
    bool isKeyDown(quint16) const override { return false; }
    QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>& shortcuts) override { return shortcuts; }
};

class UnavailableInput final : public SyntheticInput {
public:
    bool isAllowed() const override { return false; }
    void postKeyStroke(const KeyChord&, const ApplicationRef&) override {}
};

} // namespace

void QtPasteboard::setText(const QString& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text, QClipboard::Clipboard);
}

DesktopBackend::DesktopBackend() = default;
DesktopBackend::~DesktopBackend()
{
    // The backends use the connections: they go first.
    keyboard.reset();
    input.reset();
    workspace.reset();
    pasteboard.reset();
}
DesktopBackend::DesktopBackend(DesktopBackend&&) noexcept = default;
DesktopBackend& DesktopBackend::operator=(DesktopBackend&&) noexcept = default;

QString DesktopBackend::unsupportedStatus()
{
    return QStringLiteral("⚠️ このデスクトップではグローバルショートカットと自動ペーストを使えません（X11 が必要です）");
}

QString DesktopBackend::waylandStatus()
{
    return QStringLiteral("⚠️ このWaylandコンポジタでは自動ペーストを使えません（wlroots系のコンポジタが必要です）");
}

namespace {

// Wayland: each capability from the global that gives it, or a line saying what is missing.
DesktopBackend waylandBackend(Logger& log)
{
    DesktopBackend backend;
    backend.shortcutsBoundByDesktop = true;
    backend.keyboard = std::make_unique<NoKeyboard>(); // the compositor binds the shortcuts
    backend.wayland = WaylandConnection::open();
    if (!backend.wayland) {
        backend.problem = QStringLiteral("cannot connect to the Wayland compositor");
        backend.status = DesktopBackend::waylandStatus();
        backend.pasteboard = std::make_unique<QtPasteboard>();
        backend.input = std::make_unique<UnavailableInput>();
        backend.workspace = std::make_unique<EmptyWorkspace>();
        log.line(QStringLiteral("⚠️ [Desktop] Wayland: ") + backend.problem);
        return backend;
    }
    WaylandConnection& wayland = *backend.wayland;
    QStringList missing;
    if (!wayland.seat())
        missing << QStringLiteral("no wl_seat");
    if (wayland.dataControl() && wayland.seat()) {
        backend.pasteboard = std::make_unique<WaylandPasteboard>(wayland);
    } else {
        missing << QStringLiteral("no zwlr_data_control_manager_v1 (the clipboard is set only while a window of this "
                                  "program has the focus)");
        backend.pasteboard = std::make_unique<QtPasteboard>();
    }
    auto input = std::make_unique<WaylandSyntheticInput>(wayland);
    if (input->isAllowed()) {
        backend.input = std::move(input);
    } else {
        missing << QStringLiteral("no zwp_virtual_keyboard_manager_v1 (no automatic paste or Return)");
        backend.input = std::make_unique<UnavailableInput>();
    }
    if (wayland.toplevels()) {
        backend.workspace = std::make_unique<WaylandWorkspace>(wayland, QGuiApplication::desktopFileName());
    } else {
        missing << QStringLiteral("no zwlr_foreign_toplevel_manager_v1 (the application in front is not known)");
        backend.workspace = std::make_unique<EmptyWorkspace>();
    }
    // The panel is a layer-shell overlay; without one it would take the keyboard, and stays hidden.
    backend.panelKeepsFocusAway = WaylandPanelSurface::isAvailable(wayland);
    if (!backend.panelKeepsFocusAway)
        log.line(QStringLiteral("⚠️ [Desktop] Wayland: no zwlr_layer_shell_v1: the panel stays hidden, the tray icon shows "
                                "the state"));
    if (!missing.isEmpty()) {
        backend.problem = missing.join(QStringLiteral("; "));
        backend.status = DesktopBackend::waylandStatus();
        log.line(QStringLiteral("⚠️ [Desktop] Wayland: ") + backend.problem);
    }
    log.line(QStringLiteral("🖥️ [Desktop] Wayland backend: clipboard %1, paste %2, target %3; shortcuts are bound in the "
                            "compositor to velutanora --toggle / --cancel")
                 .arg(wayland.dataControl() ? QStringLiteral("data-control") : QStringLiteral("Qt"),
                      backend.input->isAllowed() ? QStringLiteral("virtual keyboard") : QStringLiteral("none"),
                      wayland.toplevels() ? QStringLiteral("foreign-toplevel") : QStringLiteral("none")));
    return backend;
}

} // namespace

DesktopBackend DesktopBackend::create(Logger& log)
{
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        return waylandBackend(log);

    DesktopBackend backend;
    backend.pasteboard = std::make_unique<QtPasteboard>();

    auto unsupported = [&](const QString& why) {
        backend.problem = why;
        backend.status = unsupportedStatus();
        backend.keyboard = std::make_unique<UnavailableKeyboard>();
        backend.input = std::make_unique<UnavailableInput>();
        backend.workspace = std::make_unique<EmptyWorkspace>();
        backend.grabConnection.reset();
        backend.rawConnection.reset();
        log.line(QStringLiteral("⚠️ [Desktop] %1: global shortcuts and automatic paste are unavailable; results are "
                                "copied to the clipboard, and desktop shortcuts can run velutanora --toggle / --cancel")
                     .arg(why));
        return std::move(backend);
    };

    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb"))
        return unsupported(QStringLiteral("the Qt platform is %1, not X11 (xcb)").arg(platform.isEmpty() ? QStringLiteral("none") : platform));
    backend.grabConnection = X11Connection::open();
    backend.rawConnection = X11Connection::open();
    if (!backend.grabConnection || !backend.rawConnection)
        return unsupported(QStringLiteral("cannot open the X display"));

    int opcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(backend.rawConnection->display(), "XInputExtension", &opcode, &event, &error))
        return unsupported(QStringLiteral("the X server has no XInput extension"));
    int major = 2;
    int minor = 0;
    if (XIQueryVersion(backend.rawConnection->display(), &major, &minor) != Success)
        return unsupported(QStringLiteral("the X server has no XInput 2"));
    int xtestEvent = 0;
    int xtestError = 0;
    int xtestMajor = 0;
    int xtestMinor = 0;
    if (!XTestQueryExtension(backend.grabConnection->display(), &xtestEvent, &xtestError, &xtestMajor, &xtestMinor))
        return unsupported(QStringLiteral("the X server has no XTEST extension"));

    auto workspace = std::make_unique<X11Workspace>(*backend.grabConnection);
    backend.keyboard = std::make_unique<X11Keyboard>(*backend.grabConnection, *backend.rawConnection, opcode, *workspace);
    backend.input = std::make_unique<X11SyntheticInput>(*backend.grabConnection);
    backend.workspace = std::move(workspace);
    log.line(QStringLiteral("🖥️ [Desktop] X11 backend: XInput %1.%2, XTEST %3.%4").arg(major).arg(minor).arg(xtestMajor).arg(xtestMinor));
    return backend;
}

} // namespace vel
