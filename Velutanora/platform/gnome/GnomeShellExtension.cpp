#include "platform/gnome/GnomeShellExtension.h"

#include "common/Logger.h"
#include "platform/wayland/CompositorBindings.h"
#include "platform/portal/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace vel {

namespace {

const QString kExtensions = QStringLiteral("org.gnome.Shell.Extensions");
const QString kShellPath = QStringLiteral("/org/gnome/Shell");
constexpr int kCallTimeoutMs = 3000;

// The shell's ExtensionState values.
constexpr int kEnabled = 1;
constexpr int kError = 3;
constexpr int kOutOfDate = 4;

} // namespace

QStringList GnomeShellExtension::installFolders(const QString& uuid)
{
    QStringList folders{QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)};
    folders << QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    folders.removeDuplicates();
    for (QString& folder : folders)
        folder += QStringLiteral("/gnome-shell/extensions/") + uuid;
    return folders;
}

namespace {

GnomeShellExtension::Standing probeForm(const QDBusConnection& bus, const QString& uuid, bool& outOfDate)
{
    using Standing = GnomeShellExtension::Standing;
    using State = GnomeShellExtension::State;
    using E = GnomeShellExtension;
    Standing status;
    bool onDisk = false;
    for (const QString& folder : E::installFolders(uuid))
        onDisk = onDisk || QFileInfo::exists(folder + QStringLiteral("/metadata.json"));
    QDBusMessage info = QDBusMessage::createMethodCall(E::kService, kShellPath, kExtensions, QStringLiteral("GetExtensionInfo"));
    info << uuid;
    const QDBusMessage reply = bus.call(info, QDBus::Block, kCallTimeoutMs);
    const QVariantMap map = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                                ? qdbus_cast<QVariantMap>(reply.arguments().first())
                                : QVariantMap();
    if (map.isEmpty()) {
        // A shell that started before the extension was copied does not know it.
        status.state = onDisk ? State::NeedsRelogin : State::NotInstalled;
        return status;
    }
    const int state = map.value(QStringLiteral("state")).toInt();
    if (state == kError || state == kOutOfDate) {
        status.state = State::Failed;
        outOfDate = state == kOutOfDate;
        status.detail = map.value(QStringLiteral("error")).toString();
        if (state == kOutOfDate && status.detail.isEmpty())
            status.detail = QStringLiteral("この GNOME Shell のバージョンに対応していません");
        return status;
    }
    if (state != kEnabled) {
        status.state = State::Disabled;
        return status;
    }
    QDBusMessage version = QDBusMessage::createMethodCall(E::kService, E::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    version << E::kInterface << QStringLiteral("Version");
    const QDBusMessage answer = bus.call(version, QDBus::Block, kCallTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        status.state = State::Failed;
        status.detail = dbusErrorText(answer);
        return status;
    }
    status.version = qdbus_cast<QDBusVariant>(answer.arguments().first()).variant().toUInt();
    // A newer interface keeps the calls of older ones; an older one lacks what this program needs.
    if (status.version < E::kVersion) {
        status.state = State::Failed;
        status.detail = QStringLiteral("拡張機能が古い版です（%1）。ログアウトしてログインし直してください").arg(status.version);
        return status;
    }
    status.state = State::Active;
    return status;
}

// Which of two standings says more: the active form, then the one this shell can load.
int rank(const GnomeShellExtension::Standing& status, bool outOfDate)
{
    using State = GnomeShellExtension::State;
    switch (status.state) {
    case State::Active: return 5;
    case State::Disabled: return 4;
    case State::Failed: return outOfDate ? 1 : 3;
    case State::NeedsRelogin: return 2;
    case State::NotInstalled: return 0;
    }
    return 0;
}

} // namespace

GnomeShellExtension::Standing GnomeShellExtension::probe(const QDBusConnection& bus)
{
    Standing best;
    int bestRank = -1;
    for (const QString& uuid : kUuids) {
        bool outOfDate = false;
        Standing status = probeForm(bus, uuid, outOfDate);
        status.uuid = uuid;
        if (const int r = rank(status, outOfDate); r > bestRank) {
            best = status;
            bestRank = r;
        }
    }
    return best;
}

bool GnomeShellExtension::enable(const QDBusConnection& bus, const QString& uuid)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kShellPath, kExtensions, QStringLiteral("EnableExtension"));
    call << uuid;
    const QDBusReply<bool> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    return reply.isValid() && reply.value();
}

QString GnomeShellExtension::describe(const Standing& status)
{
    switch (status.state) {
    case State::NotInstalled:
        return QStringLiteral("GNOME Shell 拡張機能が入っていません");
    case State::NeedsRelogin:
        return QStringLiteral("GNOME Shell 拡張機能は入っています。読み込むには一度ログアウトしてログインし直してください");
    case State::Disabled:
        return QStringLiteral("GNOME Shell 拡張機能が無効です");
    case State::Failed:
        return QStringLiteral("GNOME Shell 拡張機能を読み込めませんでした（%1）").arg(status.detail);
    case State::Active:
        return QStringLiteral("GNOME Shell 拡張機能 v%1").arg(status.version);
    }
    return {};
}

GnomeShellExtension::GnomeShellExtension(Logger& log, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_log(log), m_bus(std::move(bus))
{
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this, SIGNAL(activated(QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("FocusChanged"), this, SLOT(onFocusChanged(QVariantMap)));
    // Queued: a second instance, or a test beside a running program, takes over when it leaves.
    if (QDBusConnectionInterface* bus = m_bus.interface()) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
            bus->registerService(kProgramName, QDBusConnectionInterface::QueueService, QDBusConnectionInterface::DontAllowReplacement);
        if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered)
            m_log.line(QStringLiteral("⚠️ [GNOME] %1 is owned by another connection: the extension answers it, not us").arg(kProgramName));
    }
    // Once, at the start; later the shell tells each change.
    const QDBusMessage reply = call(QStringLiteral("FocusedWindow"), {});
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_focused = qdbus_cast<QVariantMap>(reply.arguments().first());
}

void GnomeShellExtension::onFocusChanged(const QVariantMap& window)
{
    m_focused = window;
    emit focusChanged();
}

QDBusMessage GnomeShellExtension::call(const QString& method, const QVariantList& arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        m_log.line(QStringLiteral("⚠️ [GNOME] %1: %2").arg(method, dbusErrorText(reply)));
    return reply;
}

void GnomeShellExtension::callLater(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    m_bus.send(message);
}

Task<QString> GnomeShellExtension::setClipboard(QString text)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("SetClipboard"));
    message << text;
    const QDBusMessage reply = co_await dbusCall(m_bus, message);
    if (reply.type() == QDBusMessage::ReplyMessage)
        co_return QString();
    m_log.line(QStringLiteral("⚠️ [GNOME] SetClipboard: ") + dbusErrorText(reply));
    co_return QStringLiteral("GNOME Shell 拡張機能がクリップボードに入れられませんでした（%1）").arg(dbusErrorText(reply));
}

Task<StrokeResult> GnomeShellExtension::pressChord(QString chord)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("PressChord"));
    message << chord;
    const QDBusMessage reply = co_await dbusCall(m_bus, message);
    if (reply.type() == QDBusMessage::ReplyMessage)
        co_return StrokeResult{};
    m_log.line(QStringLiteral("⚠️ [GNOME] PressChord %1: %2").arg(chord, dbusErrorText(reply)));
    co_return StrokeResult::unavailable(QStringLiteral("GNOME Shell 拡張機能がキーを送れませんでした（%1）").arg(dbusErrorText(reply)));
}

void GnomeShellExtension::activateWindow(quint64 id)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("ActivateWindow"));
    message << QVariant::fromValue(id);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, id](QDBusPendingCallWatcher* done) {
        const QDBusMessage reply = done->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().value(0).toBool())
            m_gone.insert(id);
        done->deleteLater();
    });
}

QString GnomeShellExtension::grab(const QString& action, const QString& accelerator)
{
    const QDBusMessage reply = call(QStringLiteral("Grab"), {action, accelerator});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return dbusErrorText(reply);
    if (!reply.arguments().value(0).toBool())
        return kTaken;
    return {};
}

void GnomeShellExtension::ungrab(const QString& action)
{
    // Sent in order before any later grab; its answer changes nothing.
    callLater(QStringLiteral("Ungrab"), {action});
}

QString GnomeShellInput::chordName(const KeyChord& chord)
{
    if (chord == KeyChord{kKeysymV, ShortcutKey::Ctrl})
        return QStringLiteral("paste");
    if (chord == KeyChord{kKeysymV, ShortcutKey::Ctrl | ShortcutKey::Shift})
        return QStringLiteral("terminal-paste");
    if (chord == KeyChord{kKeysymReturn, 0})
        return QStringLiteral("return");
    return {};
}

Task<StrokeResult> GnomeShellInput::sendKeyStroke(KeyChord chord, ApplicationRef target)
{
    Q_UNUSED(target); // the shell types into the focused window; the paste service brought the target there
    const QString name = chordName(chord);
    if (name.isEmpty())
        co_return StrokeResult::refused(QStringLiteral("GNOME Shell 拡張機能はこのキーを送りません"));
    StrokeResult result = co_await m_shell.pressChord(name);
    co_return result;
}

namespace {

// A window as the extension reported it; the process id stands for the application, as on X11.
class GnomeShellWindow final : public Application {
public:
    GnomeShellWindow(GnomeShellExtension& shell, const QVariantMap& info)
        : m_shell(shell), m_id(info.value(QStringLiteral("id")).toULongLong()),
          m_pid(info.value(QStringLiteral("pid")).toLongLong())
    {
        // Both names, as WM_CLASS gives two: a terminal is known by either.
        // The shell names an application without a desktop file "window:N": that is no name.
        QString appId = info.value(QStringLiteral("app-id")).toString();
        if (!appId.endsWith(QLatin1String(".desktop")))
            appId.clear();
        appId.chop(appId.isEmpty() ? 0 : 8);
        m_class = info.value(QStringLiteral("wm-class")).toString();
        if (!appId.isEmpty() && appId.compare(m_class, Qt::CaseInsensitive) != 0)
            m_class = m_class.isEmpty() ? appId : m_class + QLatin1Char(' ') + appId;
    }
    qint64 processId() const override { return m_pid > 0 ? m_pid : -static_cast<qint64>(m_id); }
    bool isActive() const override
    {
        return m_shell.focusedWindow().value(QStringLiteral("id")).toULongLong() == m_id;
    }
    bool isTerminated() const override { return m_shell.isGone(m_id); }
    void activate() override { m_shell.activateWindow(m_id); }
    QString windowClass() const override { return m_class; }

private:
    GnomeShellExtension& m_shell;
    quint64 m_id;
    qint64 m_pid;
    QString m_class;
};

} // namespace

GnomeShellWorkspace::GnomeShellWorkspace(GnomeShellExtension& shell) : m_shell(shell) {}

ApplicationRef GnomeShellWorkspace::frontmostApplication() const
{
    const QVariantMap info = m_shell.focusedWindow();
    if (!info.contains(QStringLiteral("id")))
        return nullptr;
    return std::make_shared<GnomeShellWindow>(m_shell, info);
}

qint64 GnomeShellWorkspace::ownProcessId() const { return QCoreApplication::applicationPid(); }

void GnomeShellWorkspace::addActivationObserver(std::function<void(ApplicationRef)> observer)
{
    QObject::connect(&m_shell, &GnomeShellExtension::focusChanged, &m_shell, [this, observer] {
        if (ApplicationRef app = frontmostApplication())
            observer(app);
    });
}

GnomeShellShortcuts::GnomeShellShortcuts(Logger& log, GnomeShellExtension& shell, QObject* parent)
    : QObject(parent), m_log(log), m_shell(shell)
{
    connect(&m_shell, &GnomeShellExtension::activated, this, [this](const QString& action) {
        if (action == kCancel && !m_cancelActive)
            return;
        if (onActivated)
            onActivated(action);
    });
}

GnomeShellShortcuts::~GnomeShellShortcuts()
{
    m_shell.ungrab(kToggle);
    m_shell.ungrab(kCancel);
}

void GnomeShellShortcuts::grab(const QString& id, const std::optional<ShortcutKey>& key)
{
    m_shell.ungrab(id);
    m_triggers.remove(id);
    if (!key)
        return;
    // Esc alone may be taken: the cancel key is grabbed only while a dictation runs.
    const QString accelerator = CompositorBindings::gnomeAccelerator(*key, id == kCancel);
    QString why = accelerator.isEmpty() ? QStringLiteral("%1 は GNOME Shell 拡張機能では割り当てられません").arg(key->label())
                                        : m_shell.grab(id, accelerator);
    if (why == GnomeShellExtension::kTaken)
        why = QStringLiteral("%1 は GNOME がすでに使っています（Alt+Space はウィンドウメニュー）。Ctrl+Alt+Space や Super+F9 "
                             "などに変えてください")
                  .arg(key->label());
    if (why.isEmpty()) {
        m_log.line(QStringLiteral("⌨️ [GNOME] grabbed %1 %2").arg(id, accelerator));
        m_triggers.insert(id, key->label());
        return;
    }
    m_log.line(QStringLiteral("⚠️ [GNOME] grab %1 %2: %3").arg(id, accelerator, why));
    if (id == kToggle)
        m_problem = why;
}

void GnomeShellShortcuts::bind(std::optional<ShortcutKey> toggle, std::optional<ShortcutKey> cancel)
{
    m_problem.clear();
    m_cancel = cancel;
    grab(kToggle, toggle);
    grab(kCancel, m_cancelActive ? m_cancel : std::nullopt);
    if (onTriggersChanged)
        onTriggersChanged();
}

void GnomeShellShortcuts::setCancelActive(bool active)
{
    if (active == m_cancelActive)
        return;
    m_cancelActive = active;
    grab(kCancel, active ? m_cancel : std::nullopt);
}

} // namespace vel
