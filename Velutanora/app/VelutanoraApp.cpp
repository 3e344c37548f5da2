#include "app/VelutanoraApp.h"

#include "correction/GeminiService.h"
#include "app/Autostart.h"
#include "dictation/HotkeyManager.h"
#include "app/UpdaterService.h"
#include "platform/wayland/CompositorBindings.h"
#include "platform/DesktopNotifier.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandPanelSurface.h"
#include "recording/DebugLog.h"
#include "audio/LocalRecognizer.h"
#include "audio/ModelManager.h"
#include "audio/ChosenRecognizer.h"
#include "audio/QtAudioInput.h"
#include "audio/SoxrConverter.h"
#include "recording/ModelCheck.h"
#include "settings/AppSettings.h"
#include "settings/JsonFileStore.h"
#include "platform/portal/PortalAppearance.h"
#include "recording/KeptAudio.h"
#include "ui/HistoryView.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"
#include "ui/ContentView.h"
#include "ui/GeneralSettingsView.h"
#include "ui/Icons.h"
#include "ui/MicrophonePicker.h"
#include "ui/RecordingPanel.h"
#include "ui/RecordingPanelController.h"
#include "ui/ShortcutsView.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMediaDevices>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QSystemTrayIcon>

namespace vel {

namespace {

// Set when the program wrote desktop shortcuts (GNOME), cleared when one of them reached it.
const QString kBindingPendingKey = QStringLiteral("desktop_binding_pending");

// The panel widget, kept off screen, shown on a layer surface: painted into it while it shows,
// with its opacity, and given the clicks made on it.
class LayerShellPanel final : public QObject {
public:
    LayerShellPanel(WaylandConnection& connection, RecordingPanel* panel)
        : QObject(panel), m_panel(panel),
          m_surface(connection, QSize(RecordingPanel::kWidth, RecordingPanel::kHeight), RecordingPanel::kBottomMargin, this)
    {
        m_surface.paint = [panel](QPainter& painter) {
            painter.setOpacity(panel->fade());
            panel->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        };
        m_surface.clicked = [panel](QPoint at) {
            QWidget* target = panel->childAt(at) ? panel->childAt(at) : panel;
            const QPointF local = target->mapFrom(panel, at);
            for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                QMouseEvent event(type, local, local, type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                  Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(target, &event);
            }
        };
        panel->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_panel && event->type() == QEvent::Show)
            m_surface.show();
        else if (watched == m_panel && event->type() == QEvent::Hide)
            m_surface.hide();
        return false;
    }

private:
    QWidget* m_panel;
    WaylandPanelSurface m_surface;
};

// What was said goes to the private debug log only while the user asks for it.
void followDebugLogging(Logger& log, AppSettings& settings, DebugLog& debugLog)
{
    const auto follow = [&log, &settings, &debugLog] {
        if (settings.debugLogging())
            log.setContentSink([&debugLog](const QString& line) { debugLog.append(line + QLatin1Char('\n')); });
        else
            log.setContentSink({});
    };
    follow();
    QObject::connect(&settings, &AppSettings::debugLoggingChanged, &settings, follow);
}

Task<void> checkGeminiKey(GeminiService& gemini, QString key, std::function<void(const QString&)> done)
{
    const QString failure = co_await gemini.checkKey(key);
    done(failure);
}

// The newest result with words (a kept recording has none yet).
QString lastResult(const RecordingHistory& history)
{
    for (const RecordingEntry& entry : history.entries())
        if (!entry.isUntranscribed())
            return entry.text;
    return {};
}

Task<void> repasteLast(PasteService& paste, Dictation& dictation, Notifier& notifier, QString text, ApplicationRef target)
{
    const PasteService::Result result = co_await paste.copyAndPaste(text, target);
    dictation.reportStatus(result.status);
    // Nothing else shows the status of a paste from the menu.
    if (!result.pasted)
        notifier.notify(result.status);
}

// Commands wait for the model check, not for a download it starts: a dictation can run
// meanwhile where Gemini hears the audio, and otherwise says how far the download is. A failed
// check still ends the start-up: the held-back command then fails with its reason.
Task<void> prepareModel(ModelCheck& check, SpeechManager& speech, std::function<void()> then)
{
    try {
        co_await check.ensureJapanese(then);
        co_await speech.prepareAudioFormat();
    } catch (...) {
    }
    then();
}

} // namespace

VelutanoraApp::VelutanoraApp(Logger& log, QObject* parent)
    : QObject(parent), m_log(log), m_gate([this](const QString& command) { runCommand(command); })
{
    m_store = std::make_unique<JsonFileStore>(JsonFileStore::defaultPath(), m_log);
    m_settings = std::make_unique<AppSettings>(*m_store);
    m_desktop = DesktopBackend::create(m_log, m_clock, m_store.get());
    m_network = std::make_unique<QNetworkAccessManager>();
    m_gemini = std::make_unique<GeminiService>(m_log, m_clock, [this] { return m_settings->geminiBaseUrl(); });
    m_recognizer = makeLocalRecognizer(m_log, *m_settings, *m_network);
    m_models = std::make_unique<ModelManager>(m_log, *m_settings, *m_recognizer);
    m_audio = std::make_unique<QtAudioInput>(m_log, [this] { return m_settings->microphoneId(); });
    m_debugLog = std::make_unique<DebugLog>();
    followDebugLogging(m_log, *m_settings, *m_debugLog);
    m_modelCheck = std::make_unique<ModelCheck>(*m_recognizer);
    m_notifier = std::make_unique<DesktopNotifier>(m_log, QDBusConnection::sessionBus(), [this](const QString& text) {
        if (m_tray && m_tray->isVisible())
            m_tray->showMessage(QStringLiteral("Velutanora"), text, QSystemTrayIcon::Warning, DesktopNotifier::kTimeoutMs);
    });
    m_panel = std::make_unique<RecordingPanelController>(m_log, m_clock, m_notifier.get());
    m_panel->setPanelAllowed(m_desktop.panelKeepsFocusAway);
    if (m_desktop.wayland && m_desktop.panelKeepsFocusAway) {
        WaylandConnection* wayland = m_desktop.wayland.get();
        m_panel->setPanelHost([wayland](RecordingPanel* panel) { new LayerShellPanel(*wayland, panel); });
    }
    m_history = std::make_unique<RecordingHistory>(*m_store, m_clock);
    m_kept = std::make_unique<KeptAudio>();
    m_usage = std::make_unique<UsageTracker>(*m_store);
    m_stack = std::make_unique<DictationStack>(DictationStack::Parts{
        m_log, m_clock, *m_settings, *m_recognizer, *m_audio, *m_debugLog, *m_desktop.pasteboard, *m_desktop.input,
        *m_desktop.workspace, *m_panel, m_gemini.get(), m_usage.get(), m_history.get(), SoxrConverter::factory(),
        m_modelCheck.get(), m_kept.get()});
    m_updater = std::make_unique<UpdaterService>(m_log, m_clock, *m_settings, *m_network,
                                                 QStringLiteral(VELUTANORA_VERSION));
    if (!m_desktop.status.isEmpty())
        m_stack->dictation.reportStatus(m_desktop.status);
    connect(m_modelCheck.get(), &ModelCheck::status, &m_stack->dictation, &Dictation::reportStatus);
    // Another model standing in for the chosen one is said where the user looks, not only in the card.
    connect(m_recognizer.get(), &ChosenRecognizer::fallbackChanged, &m_stack->dictation, [this] {
        if (!m_recognizer->fallbackNotice().isEmpty())
            m_stack->dictation.reportStatus(m_recognizer->fallbackNotice());
    });

    // The appearance is the application's (dialogs, menus, the panel), and 「システム設定に従う」
    // follows the desktop's colour scheme as it changes.
    m_appearance = std::make_unique<PortalAppearance>(QDBusConnection::sessionBus());
    const auto applyAppearance = [this] {
        ContentView::setDesktopPrefersDark(m_appearance->prefersDark());
        QApplication::setPalette(ContentView::paletteFor(m_settings->appearanceMode()));
        if (m_window)
            m_window->reapplyAppearance();
    };
    applyAppearance();
    connect(m_appearance.get(), &PortalAppearance::changed, this, applyAppearance);
    connect(m_settings.get(), &AppSettings::appearanceModeChanged, this,
            [this] { QApplication::setPalette(ContentView::paletteFor(m_settings->appearanceMode())); });

    // What the card does (a download, a retry, another model) keeps the status line current: it
    // never goes on saying a download failed after the card's retry installed the model.
    connect(m_models.get(), &ModelControl::stateChanged, &m_stack->dictation, [this] {
        using Phase = ModelState::Phase;
        const ModelState model = m_models->state();
        if (model.phase == m_lastModelPhase)
            return;
        m_lastModelPhase = model.phase;
        if (model.phase == Phase::Installed && model.fallback.isEmpty())
            m_stack->dictation.reportStatus(QStringLiteral("✅ 日本語モデル インストール済み"));
        else if (model.phase == Phase::Downloading)
            m_stack->dictation.reportStatus(QStringLiteral("📥 日本語モデルをダウンロード中..."));
        else if (model.phase == Phase::Failed)
            m_stack->dictation.reportStatus(QStringLiteral("⚠️ 日本語モデル: ") + model.reason);
    });

    // The microphone list of an open settings window follows devices being plugged and unplugged.
    auto* devices = new QMediaDevices(this);
    connect(devices, &QMediaDevices::audioInputsChanged, this, [this] {
        if (m_window)
            m_window->generalView()->microphonePicker()->setDevices(QtAudioInput::inputDevices());
    });

    m_tray = new QSystemTrayIcon(this);
    m_menu = new QMenu;
    m_tray->setContextMenu(m_menu);
    connect(m_menu, &QMenu::aboutToShow, this, &VelutanoraApp::rebuildMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            openSettings();
    });
    const DictationState& state = m_stack->dictation.state();
    for (auto signal : {&DictationState::phaseChanged, &DictationState::isRewritingChanged,
                        &DictationState::silenceCountdownChanged, &DictationState::continuousChanged,
                        &DictationState::statusMessageChanged})
        connect(&state, signal, this, &VelutanoraApp::refreshTray);
    connect(m_settings.get(), &AppSettings::stealthModeChanged, this, &VelutanoraApp::refreshTray);
    connect(m_settings.get(), &AppSettings::launchAtLoginChanged, this, [this] {
        const QString failure = Autostart::apply(m_settings->launchAtLogin(), QCoreApplication::applicationFilePath());
        if (!failure.isEmpty())
            m_log.line(QStringLiteral("⚠️ [Autostart] %1").arg(failure));
    });
    connect(m_updater.get(), &UpdaterService::checked, this,
            [this](UpdaterService::Outcome outcome, bool userInitiated) { showUpdateResult(static_cast<int>(outcome), userInitiated); });
    rebuildMenu();
    refreshTray();
}

VelutanoraApp::~VelutanoraApp()
{
    delete m_menu;
    delete m_window;
}

void VelutanoraApp::launch(bool autostart)
{
    m_tray->show();
    // Without a tray (GNOME without an AppIndicator extension) and without a panel, nothing would
    // show that the program runs or records: notifications say it instead.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        m_panel->setOnlyNotifications(!m_desktop.panelKeepsFocusAway);
        m_notifier->notify(QStringLiteral("Velutanora が動いています。このデスクトップにはトレイがないため、設定は velutanora を"
                                          "もう一度起動すると開き、終了は設定ウィンドウの「Velutanora を終了」から行えます"));
    }
    m_updater->start();
    if (!autostart)
        openSettings();
    startupTask();
}

void VelutanoraApp::setupHotkeyIfNeeded()
{
    if (m_hotkeys)
        return;
    m_hotkeys = std::make_unique<HotkeyManager>(HotkeyManager::Dependencies{
        m_log, m_clock, *m_settings, m_stack->dictation, *m_desktop.keyboard, m_desktop.shortcuts.get()});
    if (m_desktop.shortcuts) {
        m_desktop.shortcuts->onTriggersChanged = [this] {
            if (m_window)
                m_window->shortcutsView()->refreshDesktopTriggers();
        };
    }
    // A shortcut another program holds too is said where the user looks: a notification at once,
    // and the shortcut section while it lasts.
    connect(m_hotkeys.get(), &HotkeyManager::swallowConflict, this, [this](const QList<ShortcutKey>& keys) {
        m_notifier->notify(HotkeyManager::conflictAdvice(keys));
        if (m_window)
            m_window->shortcutsView()->showConflicts(HotkeyManager::conflictAdvice(m_hotkeys->conflicts()));
    });
    m_hotkeys->startMonitoring();
}

void VelutanoraApp::startupTask()
{
    m_stack->dictation.workspaceMonitor().startTracking();
    setupHotkeyIfNeeded();
    m_panel->bind(&m_stack->dictation.state(), m_settings.get(), &m_stack->dictation);
    m_startedUp = true;
    spawn(this, prepareModel(*m_modelCheck, m_stack->speech, [this] { m_gate.open(); }));
}

void VelutanoraApp::openSettings()
{
    if (!m_window) {
        m_window = new ContentView(*m_settings, *m_history, *m_usage, m_models.get());
        m_window->setAttribute(Qt::WA_DeleteOnClose, false);
        m_window->historyView()->onRetry = [this](const QUuid& entry) { m_stack->dictation.retryKept(entry, false); };
        m_window->generalView()->showStatus(m_stack->dictation.state().statusMessage());
        m_window->setQuitVisible(!QSystemTrayIcon::isSystemTrayAvailable());
        m_window->generalView()->setKeyCheck([this](const QString& key, std::function<void(const QString&)> done) {
            spawn(this, checkGeminiKey(*m_gemini, key, std::move(done)));
        });
        if (m_hotkeys)
            m_window->shortcutsView()->showConflicts(HotkeyManager::conflictAdvice(m_hotkeys->conflicts()));
        m_window->setWindowIcon(Icons::icon(QStringLiteral("velutanora"), Qt::black));
        m_window->generalView()->microphonePicker()->setDevices(QtAudioInput::inputDevices());
        if (m_desktop.shortcutsBoundByDesktop) {
            const auto compositor = CompositorBindings::detect(QProcessEnvironment::systemEnvironment());
            const QString program = QCoreApplication::applicationFilePath();
            m_window->shortcutsView()->showDesktopBindings(
                CompositorBindings::name(compositor), [compositor, program](const ShortcutKey& start, const ShortcutKey& cancel) {
                    return CompositorBindings::lines(compositor, start, cancel, program);
                });
            if (compositor == CompositorBindings::Compositor::Gnome)
            {
                m_window->shortcutsView()->setBindingsInstaller(
                    QStringLiteral("GNOMEに登録"), [this, program](const ShortcutKey& start, const ShortcutKey& cancel) {
                        const QString failure = CompositorBindings::installInGnome(start, cancel, program);
                        if (failure.isEmpty())
                            m_store->setBoolean(kBindingPendingKey, true);
                        return failure;
                    });
                if (m_store->boolean(kBindingPendingKey).value_or(false))
                    m_window->shortcutsView()->showBindingConfirmed(false);
            }
        }
        ShortcutsView* shortcuts = m_window->shortcutsView();
        shortcuts->showCapabilities(m_desktop.capabilities);
        if (!m_desktop.loneModifierProblem.isEmpty())
            shortcuts->refuseLoneModifiers(m_desktop.loneModifierProblem);
        if (DesktopShortcuts* service = m_desktop.shortcuts.get()) {
            std::function<void()> configure;
            if (service->canConfigure())
                configure = [service] { service->configure(); };
            shortcuts->showDesktopShortcuts(service->mechanism(), [service](const QString& id) {
                const QString bound = service->trigger(id);
                if (bound.isEmpty() && id == DesktopShortcuts::kToggle && !service->problem().isEmpty())
                    return QStringLiteral("（未割り当て: %1）").arg(service->problem());
                return bound;
            },
                                            configure);
        }
        connect(m_window->shortcutsView(), &ShortcutsView::capturingChanged, this, [this](bool capturing) {
            if (m_hotkeys)
                m_hotkeys->setPaused(capturing);
        });
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void VelutanoraApp::handleCommand(const QString& command)
{
    // A written desktop shortcut runs these commands: it works.
    if ((command == QLatin1String("toggle") || command == QLatin1String("cancel"))
        && m_store->boolean(kBindingPendingKey).value_or(false)) {
        m_store->remove(kBindingPendingKey);
        if (m_window)
            m_window->shortcutsView()->showBindingConfirmed(true);
    }
    if (!m_startedUp)
        startupTask();
    m_gate.handle(command);
}

void VelutanoraApp::runCommand(const QString& command)
{
    if (command == QLatin1String("toggle"))
        m_stack->dictation.toggle(m_desktop.workspace->frontmostApplication());
    else if (command == QLatin1String("cancel") && m_stack->dictation.isBusy())
        m_stack->dictation.cancel(); // bound in a compositor it takes the key always: idle, it does nothing
    else
        openSettings();
}

QString VelutanoraApp::iconNameFor(bool stealthMode, bool completionVisible, bool rewriting, bool pipelineRunning,
                                   bool recording, std::optional<int> countdown, bool continuous)
{
    if (!stealthMode)
        return recording ? QStringLiteral("mic.fill") : QStringLiteral("mic");
    if (completionVisible)
        return QStringLiteral("checkmark.circle.fill");
    if (rewriting || pipelineRunning)
        return QStringLiteral("ellipsis.circle");
    if (!recording)
        return QStringLiteral("mic");
    if (countdown && *countdown >= 1 && continuous)
        return QString::number(*countdown) + QStringLiteral(".circle.fill");
    return QStringLiteral("mic.fill");
}

QString VelutanoraApp::menuBarIconName() const
{
    // Without the panel (stealth, or a compositor it would take the keyboard on) the icon carries the state.
    const bool noPanel = m_settings->stealthMode() || !m_desktop.panelKeepsFocusAway;
    const DictationState& state = m_stack->dictation.state();
    return iconNameFor(noPanel, state.isCompletionVisible(), state.isRewriting(), state.isProcessing(),
                       state.isRecording(), state.silenceCountdown(), state.isContinuous());
}

void VelutanoraApp::refreshTray()
{
    const QString name = menuBarIconName();
    const QColor color = name == QLatin1String("mic.fill") || name.endsWith(QLatin1String(".circle.fill"))
                             ? QColor(0xcc, 0x33, 0x1a)
                             : QColor(0x8e, 0x8e, 0x93);
    m_tray->setIcon(Icons::icon(name, color));
    m_tray->setToolTip(QStringLiteral("Velutanora — ") + m_stack->dictation.state().statusMessage());
    if (m_window)
        m_window->generalView()->showStatus(m_stack->dictation.state().statusMessage());
}

void VelutanoraApp::rebuildMenu()
{
    m_menu->clear();
    if (m_stack->dictation.state().isRecording()) {
        m_menu->addAction(QStringLiteral("録音停止"), this, [this] { m_stack->dictation.toggle(nullptr, Dictation::Extent::Plain); });
        m_menu->addAction(QStringLiteral("キャンセル"), this, [this] { m_stack->dictation.cancel(); });
    } else {
        m_menu->addAction(QStringLiteral("録音開始"), this, [this] {
            m_stack->dictation.toggle(m_desktop.workspace->frontmostApplication(), Dictation::Extent::Plain);
        });
    }
    // The way out when a paste landed in the wrong window: the newest result again, into the
    // application the user has since brought to the front.
    QAction* repaste = m_menu->addAction(QStringLiteral("最後の結果をもう一度ペースト"), this, [this] {
        const QString last = lastResult(*m_history);
        if (last.isEmpty())
            return;
        spawn(this, repasteLast(m_stack->paste, m_stack->dictation, *m_notifier, last,
                          m_stack->dictation.workspaceMonitor().lastExternalApp()));
    });
    repaste->setEnabled(!lastResult(*m_history).isEmpty());
    m_menu->addSeparator();
    // The mark is on the mode in effect: without a key every mode runs as 超高速, and nothing
    // goes to Google.
    const bool keySet = !m_settings->geminiApiKey().isEmpty();
    QMenu* modes = m_menu->addMenu(keySet ? QStringLiteral("校正モード") : QStringLiteral("校正モード（APIキー未設定: 超高速で動作中）"));
    const CorrectionMode inEffect = keySet ? m_settings->correctionMode() : CorrectionMode::Instant;
    for (CorrectionMode mode : allCorrectionModes) {
        const QString label = mode == CorrectionMode::Instant ? displayName(mode)
                                                               : displayName(mode) + QStringLiteral("（音声を Google に送信）");
        QAction* a = modes->addAction(label, this, [this, mode] { m_settings->setCorrectionMode(mode); });
        if (mode == inEffect)
            a->setIcon(Icons::icon(QStringLiteral("checkmark"), m_menu->palette().color(QPalette::WindowText)));
    }
    m_menu->addSeparator();
    QAction* stealth = m_menu->addAction(QStringLiteral("ステルスモード"));
    stealth->setCheckable(true);
    stealth->setChecked(m_settings->stealthMode());
    connect(stealth, &QAction::toggled, this, [this](bool on) { m_settings->setStealthMode(on); });
    // Without a release feed there is nothing to check: the entries show only once one is set.
    if (m_updater->canCheckForUpdates()) {
        m_menu->addSeparator();
        m_menu->addAction(QStringLiteral("アップデートを確認…"), this, [this] { m_updater->checkForUpdates(true); });
        QAction* automatic = m_menu->addAction(QStringLiteral("自動でアップデートを確認"));
        automatic->setCheckable(true);
        automatic->setChecked(m_updater->automaticallyChecksForUpdates());
        connect(automatic, &QAction::toggled, this, [this](bool on) { m_updater->setAutomaticallyChecksForUpdates(on); });
    }
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("設定を開く"), this, &VelutanoraApp::openSettings);
    m_menu->addAction(QStringLiteral("Velutanora について"), this, [this] {
        openSettings();
        QMessageBox::about(m_window, QStringLiteral("Velutanora について"),
                           QStringLiteral("<b>Velutanora</b> %1<br>ヴェルタノーラ — 日本語音声入力").arg(QStringLiteral(VELUTANORA_VERSION)));
    });
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("終了"), qApp, &QCoreApplication::quit);
}

void VelutanoraApp::showUpdateResult(int outcome, bool userInitiated)
{
    const auto result = static_cast<UpdaterService::Outcome>(outcome);
    if (result != UpdaterService::Outcome::UpdateAvailable && !userInitiated)
        return;
    auto* box = new QMessageBox(m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("アップデート"));
    box->setTextFormat(Qt::RichText);
    if (result == UpdaterService::Outcome::UpdateAvailable) {
        const auto& release = m_updater->lastRelease();
        box->setText(QStringLiteral("新しいバージョン %1 があります（現在 %2）。<br><br>%3<br><br><a href=\"%4\">ダウンロードページを開く</a>")
                         .arg(release.version.toHtmlEscaped(), QStringLiteral(VELUTANORA_VERSION),
                              release.notes.toHtmlEscaped(), release.url.toString(QUrl::FullyEncoded).toHtmlEscaped()));
        box->setTextInteractionFlags(Qt::TextBrowserInteraction);
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            label->setOpenExternalLinks(true);
    } else if (result == UpdaterService::Outcome::UpToDate) {
        box->setText(QStringLiteral("最新のバージョンです（%1）。").arg(QStringLiteral(VELUTANORA_VERSION)));
    } else {
        box->setText(QStringLiteral("アップデート情報を取得できませんでした。"));
    }
    box->open();
}

} // namespace vel
