#pragma once

#include "common/Clock.h"
#include "common/Logger.h"
#include "app/StartupGate.h"
#include "dictation/DictationStack.h"
#include "recording/ModelControl.h"
#include "platform/DesktopBackend.h"
#include "ui/ContentView.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QNetworkAccessManager;
class QSystemTrayIcon;

namespace vel {

class AppSettings;
class ContentView;
class DebugLog;
class DesktopNotifier;
class GeminiService;
class HotkeyManager;
class JsonFileStore;
class ModelManager;
class QtAudioInput;
class KeptAudio;
class PortalAppearance;
class RecordingHistory;
class RecordingPanelController;
class SingleInstance;
class ModelCheck;
class ChosenRecognizer;
class UpdaterService;
class UsageTracker;

// The program as a user meets it: the objects and their start-up, the tray icon with its
// state and menu, the settings window, the updater, one instance per user.
class VelutanoraApp final : public QObject {
    Q_OBJECT
public:
    explicit VelutanoraApp(Logger& log, QObject* parent = nullptr);
    ~VelutanoraApp() override;

    // Shows the settings window unless started by the autostart entry; runs the start-up task.
    void launch(bool autostart);
    // A command from a second launch: "show", "toggle" or "cancel".
    void handleCommand(const QString& command);
    void openSettings();

    // The tray symbol for a dictation state.
    static QString iconNameFor(bool stealthMode, bool completionVisible, bool rewriting, bool pipelineRunning,
                               bool recording, std::optional<int> countdown, bool continuous);
    QString menuBarIconName() const;
    QMenu* menu() const { return m_menu; }
    QSystemTrayIcon* tray() const { return m_tray; }
    ContentView* window() const { return m_window; }
    SpeechManager& speech() const { return m_stack->speech; }
    Dictation& dictation() const { return m_stack->dictation; }
    AppSettings& settings() const { return *m_settings; }
    HotkeyManager* hotkeys() const { return m_hotkeys.get(); }
    RecordingPanelController& panelController() const { return *m_panel; }
    UpdaterService& updater() const { return *m_updater; }
    RecordingHistory& history() const { return *m_history; }

private:
    void startupTask();
    void runCommand(const QString& command);
    void setupHotkeyIfNeeded();
    void rebuildMenu();
    void refreshTray();
    void showUpdateResult(int outcome, bool userInitiated);

    Logger& m_log;
    SystemClock m_clock;
    std::unique_ptr<JsonFileStore> m_store;
    std::unique_ptr<AppSettings> m_settings;
    DesktopBackend m_desktop;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<GeminiService> m_gemini;
    std::unique_ptr<ChosenRecognizer> m_recognizer;
    std::unique_ptr<ModelManager> m_models;
    std::unique_ptr<QtAudioInput> m_audio;
    std::unique_ptr<DebugLog> m_debugLog;
    std::unique_ptr<ModelCheck> m_modelCheck;
    std::unique_ptr<RecordingHistory> m_history;
    std::unique_ptr<KeptAudio> m_kept;
    std::unique_ptr<PortalAppearance> m_appearance;
    ModelState::Phase m_lastModelPhase = ModelState::Phase::Absent; // the card's, as the status line last told it
    std::unique_ptr<UsageTracker> m_usage;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<RecordingPanelController> m_panel;
    std::unique_ptr<UpdaterService> m_updater;
    std::unique_ptr<DictationStack> m_stack;
    std::unique_ptr<HotkeyManager> m_hotkeys;
    QPointer<ContentView> m_window;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    bool m_startedUp = false;
    StartupGate m_gate;
};

} // namespace vel
