#pragma once

#include "common/Task.h"
#include "dictation/DictationState.h"
#include "dictation/RecordingPanelControl.h"
#include "dictation/SyntheticInput.h"
#include "dictation/WorkspaceMonitor.h"

#include <QObject>
#include <QStringList>

namespace vel {

class AppSettings;
class Clock;
class ClockTimer;
class GeminiService;
class KeptAudio;
class Logger;
class PasteService;
class RecordingHistory;
class SpeechManager;
class UsageTracker;

// One dictation, whatever starts it (the shortcuts, the tray menu, --toggle and --cancel, the
// panel's stop button, transcribe): start, stop, cancel, the continuous loop, and one processing
// task at a time (replaced, never queued; cancellation cooperative). It owns the dictation's
// state: the recorder reports to it, the pipeline returns to it, everything else reads it.
class Dictation final : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        Logger& log;
        Clock& clock;
        SpeechManager& speech;
        AppSettings& settings;
        UsageTracker* usageTracker;
        RecordingHistory* history;
        RecordingPanelControl& panel;
        GeminiService* gemini;
        PasteService* paste;
        Workspace& workspace;
        SyntheticInput& input;
        KeptAudio* kept = nullptr;
    };

    // How much of the machinery a trigger brings. The shortcuts and the commands bring all of it;
    // the tray menu and the panel's stop button only start, stop and process: no panel shown,
    // no Gemini warm-up, no continuous mode, no Return.
    enum class Extent { Full, Plain };

    explicit Dictation(Dependencies dependencies, QObject* parent = nullptr);
    ~Dictation() override;

    // Starts a dictation aimed at frontmostApp, or stops the one under way and processes it.
    void toggle(ApplicationRef frontmostApp, Extent extent = Extent::Full);
    // Cancels the recording or the processing, and leaves continuous mode.
    void cancel();
    void cancelProcessing();

    const DictationState& state() const { return m_state; }
    // A line for the status that is not about a dictation (a shortcut taken, a re-paste).
    void reportStatus(const QString& status) { m_state.setStatusMessage(status); }
    // Recording, or a stop or processing under way (the cancel shortcut then applies).
    bool isBusy() const;
    bool isProcessing() const { return m_isProcessing; }
    const TaskHandle& processingTask() const { return m_processingTask; }
    // The target of the paste: chosen at start, kept through continuous mode.
    WorkspaceMonitor& workspaceMonitor() { return m_workspaceMonitor; }

    // Processes the stopped dictation, pastes it into the target and tells the panel.
    Task<DictationOutcome> process();

    // Tries a kept recording (a history entry without words) again: Gemini hears it where the
    // mode and the key call for it, else the local recogniser. Its words take the entry's place in
    // the history and its recording goes; they are pasted into the application in front
    // (`paste`, from the panel) or copied (from the history).
    void retryKept(const QUuid& entry, bool paste);

signals:
    void busyChanged();
    // The recording as it is sent to Gemini.
    void wavBuilt(const QByteArray& wav);
    // For the detection of a lone start key: its state starts afresh, or the block on its
    // phantom release may be lifted (only once the key is up, when onlyWhenReleased).
    void startKeyStateReset();
    void startKeyBlockLifted(bool onlyWhenReleased);

private:
    void leaveContinuousMode();
    void setIsProcessing(bool value);
    void setProcessingTask(TaskHandle task);
    Task<void> sendReturn(ApplicationRef target, QString logLine);
    Task<void> reportEnd(TaskHandle task);
    void enterContinuousMode(ApplicationRef targetApp);
    void onSilenceDetected();
    void followRecorder();
    void showCompletion();
    Task<void> startNextContinuousRecording(ApplicationRef savedTarget);
    Task<void> startTask(bool needsGeminiAudio, QStringList contextualStrings);
    // What kept the recording from starting, or an empty text.
    Task<QString> tryStartRecording(bool needsGeminiAudio, QStringList contextualStrings);
    Task<void> stopRecording(bool gemini);
    Task<void> manualStopTask(bool gemini, bool wasContinuous, bool autoEnter, ApplicationRef target);
    Task<void> utteranceStep(bool gemini, bool autoEnter, ApplicationRef savedTarget);
    Task<void> retryTask(QUuid id, ApplicationRef target);

    Logger& m_log;
    Clock& m_clock;
    SpeechManager& m_speech;
    AppSettings& m_settings;
    UsageTracker* m_usageTracker;
    RecordingHistory* m_history;
    RecordingPanelControl& m_panel;
    GeminiService* m_gemini;
    PasteService* m_paste;
    SyntheticInput& m_input;
    KeptAudio* m_kept;
    WorkspaceMonitor m_workspaceMonitor;
    DictationState m_state;
    // Continuous mode: the target every utterance goes to.
    ApplicationRef m_continuousTarget;
    std::unique_ptr<ClockTimer> m_completionTimer;
    bool m_isProcessing = false;
    TaskHandle m_processingTask;
};

} // namespace vel
