// Dictation control: what the start and cancel shortcuts do (members of HotkeyManager).
#include "common/Clock.h"
#include "common/Logger.h"
#include "correction/GeminiService.h"
#include "desktop/HotkeyManager.h"
#include "recording/SpeechManager.h"
#include "settings/AppSettings.h"

#include <QPointer>

namespace vel {

bool HotkeyManager::geminiFlag() const
{
    return !m_settings.geminiApiKey().isEmpty() && m_settings.correctionMode() != CorrectionMode::Instant;
}

void HotkeyManager::setIsProcessing(bool value)
{
    m_isProcessing = value;
    updateSwallowedShortcuts();
}

void HotkeyManager::setProcessingTask(TaskHandle task)
{
    m_processingTask = std::move(task);
    updateSwallowedShortcuts();
}

void HotkeyManager::cancelProcessing()
{
    m_processingTask.cancel();
    m_processingTask = TaskHandle();
    m_isProcessing = false;
    clearStartModifierPhantomBlock(QStringLiteral("cancelProcessing"));
    updateSwallowedShortcuts();
}

void HotkeyManager::sendReturn(const ApplicationRef& target)
{
    const bool reachable = target && !target->isTerminated();
    m_input.postKeyStroke(KeyChord{kKeyCodeReturn, 0}, reachable ? target : nullptr);
}

void HotkeyManager::handleStartStopToggle(ApplicationRef frontmostApp)
{
    if (!m_speech.isRecording()) {
        cancelProcessing();
        m_speech.workspaceMonitor().chooseTarget(frontmostApp);
        m_panel.show();
        if (m_settings.correctionMode() != CorrectionMode::Instant && m_gemini)
            m_gemini->warmConnection(m_settings.geminiApiKey());
        if (m_settings.continuousMode() != ContinuousMode::Off) {
            m_speech.setIsContinuousMode(true);
            m_speech.setContinuousAutoEnter(m_settings.continuousMode() == ContinuousMode::Auto);
            m_speech.setContinuousSilenceSeconds(m_settings.continuousSilenceSeconds());
            setupContinuousLoop(frontmostApp);
        }
        spawn(startTask(geminiFlag(), m_settings.contextualStrings()));
        return;
    }

    const bool wasContinuous = m_speech.isContinuousMode();
    const bool autoEnter = m_speech.continuousAutoEnter();
    const ApplicationRef target = m_speech.workspaceMonitor().targetApp();
    if (wasContinuous) {
        m_speech.setIsContinuousMode(false);
        m_speech.setContinuousAutoEnter(false);
        m_speech.onSilenceDetected = nullptr;
    }
    cancelProcessing();
    resetStartModifierState();
    setIsProcessing(true);
    setProcessingTask(spawn(manualStopTask(geminiFlag(), wasContinuous, autoEnter, target)));
}

Task<void> HotkeyManager::startTask(bool needsGeminiAudio, QStringList contextualStrings)
{
    QPointer<HotkeyManager> self(this);
    std::exception_ptr failure;
    try {
        co_await m_speech.startRecording(needsGeminiAudio, contextualStrings);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure)
        co_return;
    m_speech.setIsContinuousMode(false);
    m_speech.setContinuousAutoEnter(false);
    m_speech.onSilenceDetected = nullptr;
    const QString status = QStringLiteral("⚠️ ") + describeError(failure);
    m_speech.setStatusMessage(status);
    m_panel.showFailure(status);
}

Task<void> HotkeyManager::manualStopTask(bool gemini, bool wasContinuous, bool autoEnter, ApplicationRef target)
{
    QPointer<HotkeyManager> self(this);
    co_await m_speech.stopRecording(!gemini);
    if (!self)
        co_return;
    setIsProcessing(false);
    const bool cancelledAfterStop = co_await taskCancelled();
    if (cancelledAfterStop) {
        clearStartModifierPhantomBlock(QStringLiteral("stop cancelled"));
        co_return;
    }
    co_await m_speech.processAndPaste(m_settings, m_usageTracker, m_history);
    if (!self)
        co_return;
    const bool cancelledAfterPaste = co_await taskCancelled();
    if (wasContinuous && autoEnter && !cancelledAfterPaste) {
        co_await sleepFor(m_clock, 0.2);
        if (!self)
            co_return;
        sendReturn(target);
        m_log.line(QStringLiteral("⏎ [continuous] Enter sent (manual stop)"));
    }
    // While the lone start key that stopped this dictation is still held, its release is yet
    // to come: lifting the block now would let that release start a new dictation.
    const ShortcutKey start = m_settings.startShortcut();
    if (!(start.isLoneModifier() && m_keyboard.isKeyDown(start.keyCode)))
        clearStartModifierPhantomBlock(QStringLiteral("processing finished"));
}

void HotkeyManager::performCancel()
{
    m_speech.setIsContinuousMode(false);
    m_speech.setContinuousAutoEnter(false);
    m_speech.onSilenceDetected = nullptr;
    if (m_speech.isRecording() || m_isProcessing)
        resetStartModifierState();
    else
        clearStartModifierPhantomBlock(QStringLiteral("cancel while idle"));
    cancelProcessing();
    if (m_speech.isRecording())
        m_speech.cancelRecording();
    else
        m_speech.setIsCancelled(true);
}

void HotkeyManager::setupContinuousLoop(ApplicationRef targetApp)
{
    QPointer<HotkeyManager> self(this);
    m_speech.onSilenceDetected = [self, targetApp] {
        if (!self || !self->m_speech.isContinuousMode())
            return;
        const bool autoEnter = self->m_speech.continuousAutoEnter();
        self->cancelProcessing();
        self->setIsProcessing(true);
        self->setProcessingTask(spawn(self->utteranceStep(self->geminiFlag(), autoEnter, targetApp)));
    };
}

Task<void> HotkeyManager::utteranceStep(bool gemini, bool autoEnter, ApplicationRef savedTarget)
{
    QPointer<HotkeyManager> self(this);
    co_await m_speech.stopRecording(!gemini);
    if (!self)
        co_return;
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
    co_await m_speech.processAndPaste(m_settings, m_usageTracker, m_history);
    if (!self)
        co_return;
    const bool cancelledAfterPaste = co_await taskCancelled();
    if (cancelledAfterPaste || !m_speech.isContinuousMode())
        co_return;
    if (autoEnter) {
        co_await sleepFor(m_clock, 0.2);
        if (!self)
            co_return;
        sendReturn(savedTarget);
        m_log.line(QStringLiteral("⏎ [continuous] Enter sent"));
    } else {
        m_log.line(QStringLiteral("📋 [continuous] paste only (no Enter)"));
    }
    const bool cancelledBeforeRestart = co_await taskCancelled();
    if (cancelledBeforeRestart || !m_speech.isContinuousMode())
        co_return;
    co_await sleepFor(m_clock, 0.5);
    if (!self)
        co_return;
    co_await startNextContinuousRecording(savedTarget);
}

Task<void> HotkeyManager::startNextContinuousRecording(ApplicationRef savedTarget)
{
    if (!m_speech.isContinuousMode())
        co_return;
    QPointer<HotkeyManager> self(this);
    m_speech.workspaceMonitor().chooseTarget(savedTarget);
    const bool gemini = geminiFlag();
    if (m_settings.correctionMode() != CorrectionMode::Instant && m_gemini)
        m_gemini->warmConnection(m_settings.geminiApiKey());
    std::exception_ptr failure;
    try {
        co_await m_speech.startRecording(gemini, m_settings.contextualStrings());
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (!failure) {
        m_log.line(QStringLiteral("🔄 [continuous] recording restarted"));
        co_return;
    }
    m_log.line(QStringLiteral("🔄 [continuous] restart failed: ") + describeError(failure));
    m_speech.setIsContinuousMode(false);
    m_speech.setContinuousAutoEnter(false);
    m_speech.onSilenceDetected = nullptr;
    m_panel.hideImmediately();
}

} // namespace vel
