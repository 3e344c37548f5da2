#include "platform/DesktopBackend.h"

#include "common/Logger.h"
#include "platform/FallbackShortcuts.h"
#include "platform/HeadlessDesktop.h"
#include "platform/wayland/CompositorBindings.h"
#include "platform/evdev/EvdevKeyboard.h"
#include "platform/gnome/GnomeShellExtension.h"
#include "platform/kde/KGlobalAccelShortcuts.h"
#include "platform/gnome/MutterRemoteDesktop.h"
#include "platform/portal/PortalGlobalShortcuts.h"
#include "platform/portal/PortalRemoteDesktop.h"
#include "platform/portal/PortalRequest.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandPanelSurface.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandSyntheticInput.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11SyntheticInput.h"
#include "platform/x11/X11Workspace.h"

#include <QClipboard>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QProcessEnvironment>
#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace vel {

Task<QString> QtPasteboard::setText(QString text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        co_return QStringLiteral("クリップボードがありません");
    clipboard->setText(text, QClipboard::Clipboard);
    // The owner reads its own selection back without asking the server.
    if (clipboard->text(QClipboard::Clipboard) != text)
        co_return QStringLiteral("クリップボードに入れられませんでした");
    co_return QString();
}

DesktopBackend::DesktopBackend() = default;
DesktopBackend::~DesktopBackend()
{
    // The backends use the connections: they go first.
    shortcuts.reset();
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

const QString kShortcutName = QStringLiteral("ショートカット");
const QString kPasteName = QStringLiteral("ペースト");
const QString kTargetName = QStringLiteral("貼り付け先");
const QString kPanelName = QStringLiteral("パネル");
const QString kExtensionName = QStringLiteral("GNOME Shell 拡張機能");

enum class WaylandDesktop { Kde, Gnome, Other };

WaylandDesktop detectDesktop(const QProcessEnvironment& environment)
{
    const QString desktop = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")).toLower();
    if (desktop.contains(QLatin1String("kde")))
        return WaylandDesktop::Kde;
    if (desktop.contains(QLatin1String("gnome")))
        return WaylandDesktop::Gnome;
    return WaylandDesktop::Other;
}

} // namespace

bool portalFileServes(const QString& text, const QString& desktop, const QString& interface)
{
    // Read as plain lines: QSettings ends an INI value at its first ';', the list separator here.
    bool inPortal = false;
    QStringList useIn, interfaces;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inPortal = line == QLatin1String("[portal]");
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inPortal || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QStringList values = line.mid(equals + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        if (key == QLatin1String("UseIn"))
            useIn = values;
        else if (key == QLatin1String("Interfaces"))
            interfaces = values;
    }
    return useIn.contains(desktop, Qt::CaseInsensitive) && interfaces.contains(interface);
}

namespace {

// Whether a portal backend meant for GNOME serves the GlobalShortcuts portal (GNOME 48's does).
// On GNOME 43, xdg-desktop-portal advertises the portal when the KDE backend is also installed,
// and that one opens no session there.
bool gnomeServesGlobalShortcuts()
{
    for (const QString& folder : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                           QStringLiteral("xdg-desktop-portal/portals"),
                                                           QStandardPaths::LocateDirectory)) {
        for (const QString& file : QDir(folder).entryList({QStringLiteral("*.portal")}, QDir::Files)) {
            QFile portal(folder + QLatin1Char('/') + file);
            if (portal.open(QIODevice::ReadOnly)
                && portalFileServes(QString::fromUtf8(portal.read(65536)), QStringLiteral("gnome"),
                                    QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts")))
                return true;
        }
    }
    return false;
}

// The shortcuts: the desktop's own way where there is one (GNOME: the program's extension),
// else a desktop service (the portal first), else the compositor's own configuration. Lone
// modifiers come from evdev where a service binds the rest, or where the compositor's
// configuration cannot be written for (neither it binds them).
void chooseWaylandShortcuts(DesktopBackend& backend, Logger& log, const QDBusConnection& bus,
                            std::unique_ptr<DesktopShortcuts> preferred)
{
    const auto environment = QProcessEnvironment::systemEnvironment();
    const auto compositor = CompositorBindings::detect(environment);
    // Asking for the portal starts it: not when the desktop's own way is there.
    uint portal = bus.isConnected() && !preferred
                      ? portalVersion(bus, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"))
                      : 0;
    if (portal > 0 && compositor == CompositorBindings::Compositor::Gnome && !gnomeServesGlobalShortcuts()) {
        log.line(QStringLiteral("🔑 [Desktop] the GlobalShortcuts portal here is not GNOME's own: not used"));
        portal = 0;
    }
    bool registered = false;
    const QDBusConnection portalBus = portal > 0 ? registeredPortalConnection(log, registered) : bus;
    if (portal > 0 && compositor == CompositorBindings::Compositor::Gnome && !registered) {
        // GNOME discards the binds of a program it cannot name; its custom shortcuts work instead.
        log.line(QStringLiteral("🔑 [Desktop] GNOME's GlobalShortcuts portal needs the installed desktop file: not used"));
        portal = 0;
    }
    QString mechanism;
    const bool kglobalaccel = bus.isConnected() && !preferred
                              && bus.interface()->isServiceRegistered(KGlobalAccelShortcuts::kService);
    if (preferred) {
        backend.shortcuts = std::move(preferred);
    } else if (portal > 0 && kglobalaccel) {
        backend.shortcuts = std::make_unique<FallbackShortcuts>(
            log, std::make_unique<PortalGlobalShortcuts>(log, portalBus, portal),
            [&log, bus] { return std::make_unique<KGlobalAccelShortcuts>(log, bus); });
    } else if (portal > 0) {
        backend.shortcuts = std::make_unique<PortalGlobalShortcuts>(log, portalBus, portal);
    } else if (kglobalaccel) {
        backend.shortcuts = std::make_unique<KGlobalAccelShortcuts>(log, bus);
    } else {
        backend.shortcutsBoundByDesktop = true;
    }
    QString evdevProblem;
    // GNOME's custom shortcuts cannot take a lone modifier either.
    const bool wantsEvdev = backend.shortcuts || compositor == CompositorBindings::Compositor::Other
        || compositor == CompositorBindings::Compositor::Gnome;
    std::unique_ptr<EvdevKeyboard> evdev = wantsEvdev ? EvdevKeyboard::openKeyboards(&evdevProblem) : nullptr;
    const QString lone = evdev ? QStringLiteral("単独の修飾キーは /dev/input から")
                         : wantsEvdev ? QStringLiteral("単独の修飾キーは使えません（%1）").arg(evdevProblem)
                                      : QStringLiteral("単独の修飾キーもコンポジタの設定で");
    backend.loneModifierProblem = evdev || !wantsEvdev ? QString() : evdevProblem;
    const bool readsEvdev = evdev != nullptr;
    if (evdev)
        backend.keyboard = std::move(evdev);
    else
        backend.keyboard = std::make_unique<NoKeyboard>(); // the compositor or the service binds the keys
    if (backend.shortcuts) {
        mechanism = backend.shortcuts->mechanism();
        backend.capabilities.append({kShortcutName, QStringLiteral("%1。%2").arg(mechanism, lone), true});
    } else {
        backend.capabilities.append(
            {kShortcutName,
             QStringLiteral("%1 の設定で velutanora --toggle / --cancel を割り当てます（下の行）。%2")
                 .arg(CompositorBindings::name(compositor), lone),
             true});
    }
    log.line(QStringLiteral("🔑 [Desktop] shortcuts: %1; lone modifiers: %2")
                 .arg(backend.shortcuts ? mechanism : QStringLiteral("the compositor's configuration"),
                      readsEvdev ? QStringLiteral("evdev") : wantsEvdev ? evdevProblem : QStringLiteral("the compositor's configuration")));
}

// Wayland: each capability from the global or the service that gives it, or a line saying
// what is missing.
DesktopBackend waylandBackend(Logger& log, Clock& clock, KeyValueStore* store)
{
    DesktopBackend backend;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const WaylandDesktop desktop = detectDesktop(QProcessEnvironment::systemEnvironment());
    std::unique_ptr<DesktopShortcuts> preferred;
    if (desktop == WaylandDesktop::Gnome && bus.isConnected()) {
        const GnomeShellExtension::Standing shellExtension = GnomeShellExtension::probe(bus);
        if (shellExtension.state == GnomeShellExtension::State::Active) {
            backend.gnomeShell = std::make_unique<GnomeShellExtension>(log, bus);
            preferred = std::make_unique<GnomeShellShortcuts>(log, *backend.gnomeShell);
        }
        DesktopCapability row{kExtensionName, GnomeShellExtension::describe(shellExtension),
                              shellExtension.state == GnomeShellExtension::State::Active};
        if (shellExtension.state == GnomeShellExtension::State::Disabled) {
            row.actionLabel = QStringLiteral("有効にする");
            row.action = [bus, uuid = shellExtension.uuid] { return GnomeShellExtension::enable(bus, uuid); };
        }
        backend.capabilities.append(row);
        log.line(QStringLiteral("🧩 [Desktop] GNOME Shell extension: %1").arg(GnomeShellExtension::describe(shellExtension)));
    }
    chooseWaylandShortcuts(backend, log, bus, std::move(preferred));
    backend.wayland = WaylandConnection::open();
    if (!backend.wayland) {
        backend.problem = QStringLiteral("cannot connect to the Wayland compositor");
        backend.status = DesktopBackend::waylandStatus();
        backend.pasteboard = std::make_unique<QtPasteboard>();
        backend.input = std::make_unique<UnavailableInput>(QStringLiteral("Wayland コンポジタに接続できません"));
        backend.workspace = std::make_unique<EmptyWorkspace>();
        log.line(QStringLiteral("⚠️ [Desktop] Wayland: ") + backend.problem);
        return backend;
    }
    WaylandConnection& wayland = *backend.wayland;
    QStringList missing;
    if (!wayland.seat())
        missing << QStringLiteral("no wl_seat");
    const bool dataControl = wayland.dataControl() && wayland.seat();
    QString pasteMechanism = QStringLiteral("none");
    QString targetMechanism = QStringLiteral("none");
    if (backend.gnomeShell) {
        // GNOME with the program's extension: the shell itself sets the clipboard, types and knows the window in front.
        backend.pasteboard = std::make_unique<GnomeShellPasteboard>(*backend.gnomeShell);
        backend.input = std::make_unique<GnomeShellInput>(*backend.gnomeShell);
        backend.workspace = std::make_unique<GnomeShellWorkspace>(*backend.gnomeShell);
        pasteMechanism = targetMechanism = QStringLiteral("GNOME Shell extension");
        backend.capabilities.append({kPasteName, QStringLiteral("GNOME Shell 拡張機能がクリップボードに入れ、貼り付けのキーを送ります"), true});
        backend.capabilities.append({kTargetName, QStringLiteral("GNOME Shell 拡張機能が話し始めたときのウィンドウを前面に戻してから貼り付けます"), true});
    } else if (!dataControl && desktop == WaylandDesktop::Gnome && MutterRemoteDesktop::isOffered(bus)) {
        // GNOME before the extension is loaded: mutter's remote-desktop API, no dialog.
        auto remote = std::make_unique<MutterRemoteDesktop>(log, clock, bus);
        backend.pasteboard = std::make_unique<MutterPasteboard>(*remote);
        backend.input = std::move(remote);
        backend.workspace = std::make_unique<EmptyWorkspace>();
        pasteMechanism = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
        backend.capabilities.append(
            {kPasteName,
             QStringLiteral("GNOME のリモートデスクトップ API（ペーストの間、画面上部にリモート操作の表示が出ます）。"
                            "GNOME Shell 拡張機能を有効にすると表示なしでペーストします"),
             true});
        backend.capabilities.append(
            {kTargetName, QStringLiteral("拡張機能がないため前面のアプリを知りません。ペーストはその時点で前面のアプリに届きます"), false});
    } else {
        if (dataControl) {
            backend.pasteboard = std::make_unique<WaylandPasteboard>(wayland);
        } else {
            missing << QStringLiteral("no zwlr_data_control_manager_v1 (the clipboard is set only while a window of this "
                                      "program has the focus)");
            backend.pasteboard = std::make_unique<UnreachablePasteboard>();
        }
        QString paste;
        auto input = std::make_unique<WaylandSyntheticInput>(wayland);
        const uint remoteDesktop = bus.isConnected() ? portalVersion(bus, QStringLiteral("org.freedesktop.portal.RemoteDesktop")) : 0;
        if (input->isAllowed()) {
            backend.input = std::move(input);
            paste = QStringLiteral("仮想キーボード（zwp_virtual_keyboard_v1）");
            pasteMechanism = QStringLiteral("virtual keyboard");
        } else if (remoteDesktop > 0) {
            backend.input = std::make_unique<PortalRemoteDesktop>(log, clock, bus, remoteDesktop, store);
            pasteMechanism = QStringLiteral("RemoteDesktop portal v%1").arg(remoteDesktop);
            paste = remoteDesktop >= 2 ? QStringLiteral("RemoteDesktop ポータル（初回に許可を確認し、次回からは確認しません）")
                                       : QStringLiteral("RemoteDesktop ポータル（起動後の初回ペーストで毎回許可を確認します）");
        } else {
            missing << QStringLiteral("no zwp_virtual_keyboard_manager_v1 and no RemoteDesktop portal (no automatic paste or Return)");
            backend.input = std::make_unique<UnavailableInput>(
                QStringLiteral("このコンポジタには仮想キーボードも RemoteDesktop ポータルもありません"));
        }
        const QString clipboard = dataControl ? QStringLiteral("クリップボードはウィンドウなしで設定できます")
                                              : QStringLiteral("クリップボードはこのアプリのウィンドウが前面のときだけ設定できます");
        if (!dataControl) {
            pasteMechanism = QStringLiteral("none (no data-control clipboard)");
            backend.capabilities.append(
                {kPasteName,
                 QStringLiteral("自動ペーストできません: このコンポジタはウィンドウのないアプリにクリップボードを渡しません"
                                "。結果は設定の「履歴」からコピーできます"),
                 false});
        } else if (paste.isEmpty())
            backend.capabilities.append(
                {kPasteName,
                 QStringLiteral("自動ペーストできません（仮想キーボードも RemoteDesktop ポータルもありません）。%1。%2")
                     .arg(clipboard, desktop == WaylandDesktop::Other ? QStringLiteral("xdg-desktop-portal を入れると使えることがあります")
                                                                       : QStringLiteral("xdg-desktop-portal のデスクトップ用バックエンドを入れてください")),
                 false});
        else
            backend.capabilities.append({kPasteName, paste + QStringLiteral("。") + clipboard, dataControl});
        if (wayland.toplevels()) {
            backend.workspace = std::make_unique<WaylandWorkspace>(wayland, QGuiApplication::desktopFileName());
            targetMechanism = QStringLiteral("foreign-toplevel");
            backend.capabilities.append({kTargetName, QStringLiteral("話し始めたときのウィンドウを前面に戻してから貼り付けます"), true});
        } else {
            missing << QStringLiteral("no zwlr_foreign_toplevel_manager_v1 (the application in front is not known)");
            backend.workspace = std::make_unique<EmptyWorkspace>();
            backend.capabilities.append(
                {kTargetName,
                 QStringLiteral("このコンポジタは前面のアプリを知らせません。ペーストはその時点で前面のアプリに届きます"), false});
        }
    }
    // The panel is a layer-shell overlay; without one it would take the keyboard, and stays hidden.
    backend.panelKeepsFocusAway = WaylandPanelSurface::isAvailable(wayland);
    if (backend.panelKeepsFocusAway) {
        backend.capabilities.append({kPanelName, QStringLiteral("入力中のウィンドウからキーボードを奪わずに表示します"), true});
    } else {
        log.line(QStringLiteral("⚠️ [Desktop] Wayland: no zwlr_layer_shell_v1: the panel stays hidden, the tray icon shows "
                                "the state"));
        backend.capabilities.append(
            {kPanelName, QStringLiteral("このコンポジタでは表示できません（キーボードを奪ってしまうため）。状態はトレイアイコンと通知で示します"), false});
    }
    if (!missing.isEmpty()) {
        backend.problem = missing.join(QStringLiteral("; "));
        backend.status = DesktopBackend::waylandStatus();
        log.line(QStringLiteral("⚠️ [Desktop] Wayland: ") + backend.problem);
    }
    log.line(QStringLiteral("🖥️ [Desktop] Wayland backend: clipboard %1, paste %2, target %3")
                 .arg(backend.gnomeShell ? QStringLiteral("GNOME Shell extension")
                      : dataControl        ? QStringLiteral("data-control")
                                           : pasteMechanism,
                      pasteMechanism, targetMechanism));
    return backend;
}

} // namespace

DesktopBackend DesktopBackend::create(Logger& log, Clock& clock, KeyValueStore* store)
{
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        return waylandBackend(log, clock, store);

    DesktopBackend backend;
    backend.pasteboard = std::make_unique<QtPasteboard>();

    auto unsupported = [&](const QString& why) {
        backend.problem = why;
        backend.status = unsupportedStatus();
        backend.keyboard = std::make_unique<UnavailableKeyboard>();
        backend.input = std::make_unique<UnavailableInput>(QStringLiteral("このデスクトップでは自動ペーストを使えません（%1）").arg(why));
        backend.workspace = std::make_unique<EmptyWorkspace>();
        backend.grabConnection.reset();
        backend.rawConnection.reset();
        backend.capabilities = {
            {kShortcutName, QStringLiteral("使えません（%1）。デスクトップのショートカットに velutanora --toggle / --cancel を割り当ててください").arg(why), false},
            {kPasteName, QStringLiteral("使えません。結果はクリップボードにコピーされます"), false},
        };
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
    backend.input = std::make_unique<X11SyntheticInput>(*backend.grabConnection, clock);
    backend.workspace = std::move(workspace);
    backend.capabilities = {
        {kShortcutName, QStringLiteral("このプログラムがキーを直接受け取ります（右Ctrl などの単独の修飾キーも使えます）"), true},
        {kPasteName, QStringLiteral("クリップボードに入れ、貼り付けのキーを送ります"), true},
        {kTargetName, QStringLiteral("話し始めたときのウィンドウを前面に戻してから貼り付けます"), true},
        {kPanelName, QStringLiteral("入力中のウィンドウからキーボードを奪わずに表示します"), true},
    };
    log.line(QStringLiteral("🖥️ [Desktop] X11 backend: XInput %1.%2, XTEST %3.%4").arg(major).arg(minor).arg(xtestMajor).arg(xtestMinor));
    return backend;
}

} // namespace vel
