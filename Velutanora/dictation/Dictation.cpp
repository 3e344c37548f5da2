#include "common/Clock.h"
#include "common/Logger.h"
#include "correction/GeminiService.h"
#include "dictation/ProcessAndPaste.h"
#include "dictation/Dictation.h"
#include "recording/DebugLog.h"
#include "recording/SpeechManager.h"
#include "settings/AppSettings.h"

#include <QPointer>

namespace vel {

Dictation::Dictation(Dependencies d, QObject* parent)
    : QObject(parent), m_log(d.log), m_clock(d.clock), m_speech(d.speech), m_settings(d.settings),
      m_usageTracker(d.usageTracker), m_history(d.history), m_panel(d.panel), m_gemini(d.gemini), m_paste(d.paste),
      m_input(d.input), m_workspaceMonitor(d.workspace)
{
    connect(&m_speech, &SpeechManager::isRecordingChanged, this, &Dictation::busyChanged);
    // A microphone that goes away ends the dictation as a second press would: nothing is lost.
    connect(&m_speech, &SpeechManager::audioDeviceLost, this, [this] {
        if (m_speech.isRecording())
            toggle(nullptr);
    });
}

Dictation::~Dictation() { m_processingTask.cancel(); }

void Dictation::leaveContinuousMode()
{
    m_speech.setIsContinuousMode(false);
    m_speech.setContinuousAutoEnter(false);
    m_speech.onSilenceDetected = nullptr;
}

bool Dictation::isBusy() const
{
    return m_speech.isRecording() || m_isProcessing || (m_processingTask.isValid() && !m_processingTask.isFinished());
}

Task<DictationOutcome> Dictation::process()
{
    const ApplicationRef target = m_workspaceMonitor.targetApp();
    // Continuous mode pastes every utterance into the same target.
    if (!m_speech.isContinuousMode() && target)
        m_workspaceMonitor.setTargetApp(nullptr);
    // The recorder publishes the dictation's progress for the panel and the tray.
    QPointer<SpeechManager> speech(&m_speech);
    PipelineProgress progress;
    progress.wavBuilt = [speech](const QByteArray& wav) { if (speech) emit speech->wavBuilt(wav); };
    progress.debugLine = [speech](const QString& line) {
        if (speech)
            speech->debugLog().appendIfExists(QLatin1Char('\n') + line + QLatin1Char('\n'));
    };
    progress.transcribed = [speech](const QString& text) { if (speech) speech->setTranscribedText(text); };
    progress.rewriting = [speech](bool active) { if (speech) speech->setIsRewriting(active); };
    progress.rewritten = [speech](const QString& text) { if (speech) speech->setRewrittenText(text); };
    progress.status = [speech](const QString& status) { if (speech) speech->setStatusMessage(status); };
    m_speech.beginProcessing();
    DictationOutcome outcome = co_await processAndPaste(m_speech.takeStoppedDictation(), target, m_settings,
                                                        PipelineServices{m_gemini, m_paste, m_usageTracker, m_history},
                                                        std::move(progress), m_log, m_clock);
    m_speech.endProcessing(outcome.kind == DictationOutcome::Kind::Pasted);
    if (outcome.delivered())
        m_panel.showOutcome(outcome);
    else if (outcome.kind == DictationOutcome::Kind::Failed)
        m_panel.showFailure(outcome.status);
    else if (outcome.kind == DictationOutcome::Kind::NothingHeard)
        m_panel.hideImmediately();
    co_return outcome;
}

bool Dictation::geminiFlag() const
{
    return sendsToGemini(m_settings, m_settings.correctionMode());
}

void Dictation::setIsProcessing(bool value)
{
    m_isProcessing = value;
    emit busyChanged();
}

void Dictation::setProcessingTask(TaskHandle task)
{
    m_processingTask = std::move(task);
    emit busyChanged();
    // The end of the work frees the cancel key: it is taken only while something runs.
    spawn(this, reportEnd(m_processingTask));
}

Task<void> Dictation::reportEnd(TaskHandle task)
{
    co_await task.finished();
    emit busyChanged();
}

void Dictation::cancelProcessing()
{
    m_processingTask.cancel();
    m_processingTask = TaskHandle();
    m_isProcessing = false;
    emit startKeyBlockLifted(false);
    emit busyChanged();
}

Task<void> Dictation::sendReturn(ApplicationRef target, QString logLine)
{
    const bool reachable = target && !target->isTerminated();
    const StrokeResult sent = co_await m_input.sendKeyStroke(KeyChord{kKeyCodeReturn, 0}, reachable ? target : nullptr);
    if (sent.sent())
        m_log.line(logLine);
    else
        m_log.line(QStringLiteral("⏎ [continuous] no Enter sent: ") + sent.reason);
}

void Dictation::toggle(ApplicationRef frontmostApp, Extent extent)
{
    if (!m_speech.isRecording()) {
        cancelProcessing();
        m_workspaceMonitor.chooseTarget(frontmostApp);
        if (extent == Extent::Full) {
            m_panel.show();
            if (m_settings.correctionMode() != CorrectionMode::Instant && m_gemini)
                m_gemini->warmConnection(m_settings.geminiApiKey());
        }
        if (extent == Extent::Full && m_settings.continuousMode() != ContinuousMode::Off) {
            m_speech.setIsContinuousMode(true);
            m_speech.setContinuousAutoEnter(m_settings.continuousMode() == ContinuousMode::Auto);
            m_speech.setContinuousSilenceSeconds(m_settings.continuousSilenceSeconds());
            setupContinuousLoop(frontmostApp);
        }
        spawn(this, startTask(geminiFlag(), m_settings.contextualStrings()));
        return;
    }

    const bool wasContinuous = m_speech.isContinuousMode();
    const bool autoEnter = extent == Extent::Full && m_speech.continuousAutoEnter();
    const ApplicationRef target = m_workspaceMonitor.targetApp();
    if (wasContinuous)
        leaveContinuousMode();
    cancelProcessing();
    emit startKeyStateReset();
    setIsProcessing(true);
    setProcessingTask(spawn(this, manualStopTask(geminiFlag(), wasContinuous, autoEnter, target)));
}

Task<QString> Dictation::tryStartRecording(bool needsGeminiAudio, QStringList contextualStrings)
{
    QString failure;
    try {
        co_await m_speech.startRecording(needsGeminiAudio, contextualStrings);
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    co_return failure;
}

Task<void> Dictation::startTask(bool needsGeminiAudio, QStringList contextualStrings)
{
    const QString failure = co_await tryStartRecording(needsGeminiAudio, contextualStrings);
    if (failure.isEmpty())
        co_return;
    leaveContinuousMode();
    const QString status = QStringLiteral("⚠️ ") + failure;
    m_speech.setStatusMessage(status);
    m_panel.showFailure(status);
}

Task<void> Dictation::manualStopTask(bool gemini, bool wasContinuous, bool autoEnter, ApplicationRef target)
{
    co_await m_speech.stopRecording(!gemini);
    setIsProcessing(false);
    const bool cancelledAfterStop = co_await taskCancelled();
    if (cancelledAfterStop) {
        emit startKeyBlockLifted(false);
        co_return;
    }
    const DictationOutcome outcome = co_await process();
    const bool cancelledAfterPaste = co_await taskCancelled();
    // Return follows a paste, never nothing: it would send what the target already holds.
    if (wasContinuous && autoEnter && !cancelledAfterPaste && outcome.pasted()) {
        co_await sleepFor(m_clock, 0.2);
        co_await sendReturn(target, QStringLiteral("⏎ [continuous] Enter sent (manual stop)"));
    }
    emit startKeyBlockLifted(true);
}

void Dictation::cancel()
{
    leaveContinuousMode();
    if (m_speech.isRecording() || m_isProcessing)
        emit startKeyStateReset();
    else
        emit startKeyBlockLifted(false);
    cancelProcessing();
    if (m_speech.isRecording()) {
        m_workspaceMonitor.setTargetApp(nullptr);
        m_speech.cancelRecording();
    } else {
        m_speech.setIsCancelled(true);
    }
    m_panel.hideImmediately();
}

void Dictation::setupContinuousLoop(ApplicationRef targetApp)
{
    QPointer<Dictation> self(this);
    m_speech.onSilenceDetected = [self, targetApp] {
        if (!self || !self->m_speech.isContinuousMode())
            return;
        const bool autoEnter = self->m_speech.continuousAutoEnter();
        self->cancelProcessing();
        self->setIsProcessing(true);
        self->setProcessingTask(spawn(self, self->utteranceStep(self->geminiFlag(), autoEnter, targetApp)));
    };
}

Task<void> Dictation::utteranceStep(bool gemini, bool autoEnter, ApplicationRef savedTarget)
{
    co_await m_speech.stopRecording(!gemini);
    setIsProcessing(false);
    const bool cancelledAfterStop = co_await taskCancelled();
    if (cancelledAfterStop || !m_speech.isContinuousMode())
        co_return;
    // Skip only an utterance with neither recognised text nor any speech in the kept audio:
    // without a local recogniser, the audio alone is what Gemini will hear.
    if (!m_speech.hasAnyRecognizedText() && !m_speech.heardSpeech()) {
        m_log.line(QStringLiteral("🔄 [continuous] no text after finalize, skipping paste"));
        co_await startNextContinuousRecording(savedTarget);
        co_return;
    }
    const DictationOutcome outcome = co_await process();
    const bool cancelledAfterPaste = co_await taskCancelled();
    if (cancelledAfterPaste || !m_speech.isContinuousMode())
        co_return;
    if (autoEnter && outcome.pasted()) {
        co_await sleepFor(m_clock, 0.2);
        co_await sendReturn(savedTarget, QStringLiteral("⏎ [continuous] Enter sent"));
    } else {
        m_log.line(QStringLiteral("📋 [continuous] paste only (no Enter)"));
    }
    const bool cancelledBeforeRestart = co_await taskCancelled();
    if (cancelledBeforeRestart || !m_speech.isContinuousMode())
        co_return;
    co_await sleepFor(m_clock, 0.5);
    co_await startNextContinuousRecording(savedTarget);
}

Task<void> Dictation::startNextContinuousRecording(ApplicationRef savedTarget)
{
    if (!m_speech.isContinuousMode())
        co_return;
    m_workspaceMonitor.chooseTarget(savedTarget);
    const bool gemini = geminiFlag();
    if (m_settings.correctionMode() != CorrectionMode::Instant && m_gemini)
        m_gemini->warmConnection(m_settings.geminiApiKey());
    const QString failure = co_await tryStartRecording(gemini, m_settings.contextualStrings());
    if (failure.isEmpty()) {
        m_log.line(QStringLiteral("🔄 [continuous] recording restarted"));
        co_return;
    }
    m_log.line(QStringLiteral("🔄 [continuous] restart failed: ") + failure);
    leaveContinuousMode();
    m_panel.hideImmediately();
}

} // namespace vel
