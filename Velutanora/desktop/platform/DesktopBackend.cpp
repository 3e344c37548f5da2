#include "desktop/platform/DesktopBackend.h"

#include "common/Logger.h"
#include "desktop/HeadlessDesktop.h"
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
}
DesktopBackend::DesktopBackend(DesktopBackend&&) noexcept = default;
DesktopBackend& DesktopBackend::operator=(DesktopBackend&&) noexcept = default;

QString DesktopBackend::unsupportedStatus()
{
    return QStringLiteral("⚠️ このデスクトップではグローバルショートカットと自動ペーストを使えません（X11 が必要です）");
}

DesktopBackend DesktopBackend::create(Logger& log)
{
    DesktopBackend backend;
    backend.pasteboard = std::make_unique<QtPasteboard>();

    auto unsupported = [&](const QString& why) {
        backend.problem = why;
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
