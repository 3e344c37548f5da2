#include "common/Clock.h"
#include "common/Logger.h"
#include "correction/GeminiService.h"
#include "dictation/PasteService.h"
#include "dictation/ProcessAndPaste.h"
#include "dictation/Dictation.h"
#include "correction/TextFormatter.h"
#include "recording/DebugLog.h"
#include "recording/KeptAudio.h"
#include "recording/WavFile.h"
#include "recording/SpeechManager.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"

#include <QPointer>

namespace vel {

Dictation::Dictation(Dependencies d, QObject* parent)
    : QObject(parent), m_log(d.log), m_clock(d.clock), m_speech(d.speech), m_settings(d.settings),
      m_usageTracker(d.usageTracker), m_history(d.history), m_panel(d.panel), m_gemini(d.gemini), m_paste(d.paste),
      m_input(d.input), m_kept(d.kept), m_workspaceMonitor(d.workspace)
{
    followRecorder();
}

Dictation::~Dictation() { m_processingTask.cancel(); }

// What the recorder reports becomes the dictation's state.
void Dictation::followRecorder()
{
    connect(&m_speech, &SpeechManager::isRecordingChanged, this, [this] {
        m_state.setRecording(m_speech.isRecording());
        emit busyChanged();
    });
    connect(&m_speech, &SpeechManager::transcribedTextChanged, this,
            [this] { m_state.setLiveText(m_speech.transcribedText()); });
    connect(&m_speech, &SpeechManager::heardTextChanged, this, [this] { m_state.setHeardText(m_speech.heardText()); });
    connect(&m_speech, &SpeechManager::waitingForModel, this, [this](bool waiting) {
        m_state.setWaitingForModel(waiting);
        if (waiting)
            m_state.setStatusMessage(QStringLiteral("⏳ 音声認識モデルを読み込み中です。終わると録音を始めます..."));
    });
    connect(&m_speech, &SpeechManager::audioLevelChanged, this, [this] { m_state.setLevel(m_speech.audioLevel()); });
    connect(&m_speech, &SpeechManager::elapsedTimeChanged, this,
            [this] { m_state.setElapsedTime(m_speech.elapsedTime()); });
    connect(&m_speech, &SpeechManager::silenceCountdownChanged, this,
            [this] { m_state.setSilenceCountdown(m_speech.silenceCountdown()); });
    connect(&m_speech, &SpeechManager::silenceDetected, this, &Dictation::onSilenceDetected);
    // A microphone that goes away ends the dictation as a second press would: nothing is lost.
    connect(&m_speech, &SpeechManager::audioDeviceLost, this, [this] {
        if (m_speech.isRecording())
            toggle(nullptr);
    });
}

void Dictation::enterContinuousMode(ApplicationRef targetApp)
{
    m_continuousTarget = std::move(targetApp);
    m_state.setContinuous(true, m_settings.continuousMode() == ContinuousMode::Auto);
}

void Dictation::leaveContinuousMode()
{
    m_state.setContinuous(false, false);
    m_continuousTarget = nullptr;
}

bool Dictation::isBusy() const
{
    return m_speech.isRecording() || m_isProcessing || (m_processingTask.isValid() && !m_processingTask.isFinished());
}

Task<DictationOutcome> Dictation::process()
{
    const ApplicationRef target = m_workspaceMonitor.targetApp();
    // Continuous mode pastes every utterance into the same target.
    if (!m_state.isContinuous() && target)
        m_workspaceMonitor.setTargetApp(nullptr);
    QPointer<Dictation> self(this);
    DebugLog* debugLog = &m_speech.debugLog();
    PipelineProgress progress;
    progress.wavBuilt = [self](const QByteArray& wav) { if (self) emit self->wavBuilt(wav); };
    progress.debugLine = [debugLog](const QString& line) {
        debugLog->appendIfExists(QLatin1Char('\n') + line + QLatin1Char('\n'));
    };
    progress.transcribed = [self](const QString& text) { if (self) self->m_state.setLiveText(text); };
    progress.rewriting = [self](bool active) { if (self) self->m_state.setRewriting(active); };
    progress.rewritten = [self](const QString& text) { if (self) self->m_state.setRewrittenText(text); };
    progress.status = [self](const QString& status) { if (self) self->m_state.setStatusMessage(status); };
    m_state.setCompletionVisible(false);
    m_state.setProcessing(true);
    DictationOutcome outcome = co_await processAndPaste(m_speech.takeStoppedDictation(), target, m_settings,
                                                        PipelineServices{m_gemini, m_paste, m_usageTracker, m_history, m_kept},
                                                        std::move(progress), m_log, m_clock);
    m_state.setProcessing(false);
    m_state.setOutcome(outcome);
    if (outcome.pasted())
        showCompletion();
    if (outcome.delivered())
        m_panel.showOutcome(outcome);
    else if (outcome.kind == DictationOutcome::Kind::Failed)
        m_panel.showFailure(outcome.status);
    else if (outcome.kind == DictationOutcome::Kind::NothingHeard)
        m_panel.hideImmediately();
    co_return outcome;
}

// The completion mark shows for two seconds after a paste (the stealth mode's only sign).
void Dictation::showCompletion()
{
    m_state.setCompletionVisible(true);
    QPointer<Dictation> self(this);
    m_completionTimer = m_clock.schedule(2.0, false, [self] {
        if (self)
            self->m_state.setCompletionVisible(false);
    });
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
    // A cancelled pipeline reports nothing more.
    m_state.setRewriting(false);
    m_state.setProcessing(false);
    emit startKeyBlockLifted(false);
    emit busyChanged();
}

Task<void> Dictation::sendReturn(ApplicationRef target, QString logLine)
{
    // Made before the await, not inside it: see scripts/check-coroutines.
    ApplicationRef addressee;
    if (target && !target->isTerminated())
        addressee = target;
    const StrokeResult sent = co_await m_input.sendKeyStroke(KeyChord{kKeysymReturn, 0}, addressee);
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
        if (extent == Extent::Full && m_settings.continuousMode() != ContinuousMode::Off)
            enterContinuousMode(frontmostApp);
        spawn(this, startTask(sendsAudioToGemini(m_settings), m_settings.contextualStrings()));
        return;
    }

    const bool wasContinuous = m_state.isContinuous();
    const bool autoEnter = extent == Extent::Full && m_state.continuousAutoEnter();
    const ApplicationRef target = m_workspaceMonitor.targetApp();
    if (wasContinuous)
        leaveContinuousMode();
    cancelProcessing();
    emit startKeyStateReset();
    setIsProcessing(true);
    setProcessingTask(spawn(this, manualStopTask(sendsAudioToGemini(m_settings), wasContinuous, autoEnter, target)));
}

Task<QString> Dictation::tryStartRecording(bool needsGeminiAudio, QStringList contextualStrings)
{
    m_state.setCancelled(false);
    m_state.setOutcome(std::nullopt);
    m_state.setLiveText(QString());
    m_state.setRewrittenText(QString());
    if (m_completionTimer)
        m_completionTimer->stop();
    m_state.setCompletionVisible(false);
    const std::optional<double> silence =
        m_state.isContinuous() ? std::optional<double>(m_settings.continuousSilenceSeconds()) : std::nullopt;
    QString failure;
    try {
        co_await m_speech.startRecording(needsGeminiAudio, contextualStrings, silence);
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    if (failure.isEmpty() && m_speech.isRecording()) {
        const QString notice = m_speech.audioNotice();
        m_state.setStatusMessage(notice.isEmpty() ? QStringLiteral("🎙️ 録音中...") : notice);
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
    m_state.setStatusMessage(status);
    m_panel.showFailure(status);
}

Task<void> Dictation::stopRecording(bool gemini)
{
    co_await m_speech.stopRecording(!gemini);
    m_state.setStatusMessage(QStringLiteral("⏹️ 録音停止 （処理時間: ") + QString::number(m_speech.processingTime(), 'f', 2)
                             + QStringLiteral("秒）"));
}

Task<void> Dictation::manualStopTask(bool gemini, bool wasContinuous, bool autoEnter, ApplicationRef target)
{
    co_await stopRecording(gemini);
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
    const bool cancelsSomething = isBusy();
    leaveContinuousMode();
    if (m_speech.isRecording() || m_isProcessing)
        emit startKeyStateReset();
    else
        emit startKeyBlockLifted(false);
    cancelProcessing();
    if (m_speech.isRecording()) {
        m_workspaceMonitor.setTargetApp(nullptr);
        m_speech.cancelRecording(); // its transcript and level reach the state as they clear
        m_state.setRewrittenText(QString());
        m_state.setStatusMessage(QStringLiteral("🚫 キャンセルしました"));
    }
    m_state.setCancelled(true);
    if (cancelsSomething)
        m_panel.showCancelled();
    else
        m_panel.hideImmediately();
}

// Continuous mode: the silence ended an utterance; it is processed and the next one starts.
void Dictation::onSilenceDetected()
{
    if (!m_state.isContinuous() || !m_speech.isRecording())
        return;
    cancelProcessing();
    setIsProcessing(true);
    setProcessingTask(spawn(this, utteranceStep(sendsAudioToGemini(m_settings), m_state.continuousAutoEnter(),
                                                m_continuousTarget)));
}

Task<void> Dictation::utteranceStep(bool gemini, bool autoEnter, ApplicationRef savedTarget)
{
    co_await stopRecording(gemini);
    setIsProcessing(false);
    const bool cancelledAfterStop = co_await taskCancelled();
    if (cancelledAfterStop || !m_state.isContinuous())
        co_return;
    // Skip an utterance that can give no words: no recognised text, and no speech in the
    // recording for Gemini to hear or to keep where the local recogniser failed.
    const bool recordingMatters = m_speech.heardSpeech() && (gemini || !m_speech.recognizerFailure().isEmpty());
    if (!m_speech.hasAnyRecognizedText() && !recordingMatters) {
        m_log.line(QStringLiteral("🔄 [continuous] no text after finalize, skipping paste"));
        co_await startNextContinuousRecording(savedTarget);
        co_return;
    }
    const DictationOutcome outcome = co_await process();
    const bool cancelledAfterPaste = co_await taskCancelled();
    if (cancelledAfterPaste || !m_state.isContinuous())
        co_return;
    if (autoEnter && outcome.pasted()) {
        co_await sleepFor(m_clock, 0.2);
        co_await sendReturn(savedTarget, QStringLiteral("⏎ [continuous] Enter sent"));
    } else {
        m_log.line(QStringLiteral("📋 [continuous] paste only (no Enter)"));
    }
    const bool cancelledBeforeRestart = co_await taskCancelled();
    if (cancelledBeforeRestart || !m_state.isContinuous())
        co_return;
    co_await sleepFor(m_clock, 0.5);
    co_await startNextContinuousRecording(savedTarget);
}

Task<void> Dictation::startNextContinuousRecording(ApplicationRef savedTarget)
{
    if (!m_state.isContinuous())
        co_return;
    m_workspaceMonitor.chooseTarget(savedTarget);
    const bool gemini = sendsAudioToGemini(m_settings);
    if (m_settings.correctionMode() != CorrectionMode::Instant && m_gemini)
        m_gemini->warmConnection(m_settings.geminiApiKey());
    // The last turn's confirmation gives way to the level, the time and the countdown.
    m_panel.show();
    const QString failure = co_await tryStartRecording(gemini, m_settings.contextualStrings());
    if (failure.isEmpty()) {
        m_log.line(QStringLiteral("🔄 [continuous] recording restarted"));
        co_return;
    }
    m_log.line(QStringLiteral("🔄 [continuous] restart failed: ") + failure);
    leaveContinuousMode();
    m_panel.hideImmediately();
}

void Dictation::retryKept(const QUuid& entry, bool paste)
{
    if (m_speech.isRecording())
        return;
    cancelProcessing();
    const ApplicationRef target = paste ? m_workspaceMonitor.frontmostNow() : nullptr;
    setProcessingTask(spawn(this, retryTask(entry, target)));
}

Task<void> Dictation::retryTask(QUuid id, ApplicationRef target)
{
    std::optional<RecordingEntry> entry = m_history ? m_history->entry(id) : std::nullopt;
    if (!entry || !entry->isUntranscribed())
        co_return;
    const std::optional<QByteArray> wav = m_kept ? m_kept->read(entry->keptAudio) : std::nullopt;
    if (!wav) {
        m_state.setStatusMessage(QStringLiteral("⚠️ 保存した録音が見つかりません"));
        co_return;
    }
    m_state.setStatusMessage(QStringLiteral("🔁 保存した録音を再試行しています..."));
    const bool gemini = sendsAudioToGemini(m_settings) && m_gemini;
    RecognizedRecording local;
    if (!gemini) {
        QByteArray pcm;
        try {
            pcm = WavFile::parse(*wav).samples;
        } catch (...) {
        }
        local = co_await m_speech.recognizeRecording(pcm);
    }
    const QString raw = local.text;
    std::optional<QByteArray> heard;
    if (gemini)
        heard = wav;
    PipelineProgress progress;
    progress.status = [this](const QString& line) { m_state.setStatusMessage(line); };
    const CleanedText cleaned = co_await cleanAndCorrect(raw, heard, false, m_settings.correctionMode(), m_settings, m_gemini,
                                                         m_usageTracker, progress, m_log, m_clock);
    if (cleaned.finalText.isEmpty()) {
        QString why = cleaned.correctionFailure;
        if (why.isEmpty())
            why = !local.failure.isEmpty() ? local.failure : QStringLiteral("言葉が聞き取れませんでした");
        m_state.setStatusMessage(QStringLiteral("⚠️ 再試行しても言葉になりませんでした: ") + why);
        co_return;
    }
    const QString kept = entry->keptAudio;
    entry->text = cleaned.finalText;
    entry->originalText = cleaned.originalText;
    entry->keptAudio.clear();
    entry->untranscribed.clear();
    m_history->update(*entry);
    m_kept->remove(kept);
    if (m_paste && target) {
        const PasteService::Result result = co_await m_paste->copyAndPaste(cleaned.finalText, target);
        m_state.setStatusMessage(result.status);
    } else if (m_paste) {
        const QString failure = co_await m_paste->copy(cleaned.finalText);
        m_state.setStatusMessage(failure.isEmpty() ? QStringLiteral("📋 コピーしました") : PasteService::notCopiedStatus(failure));
    }
}

} // namespace vel
