// The processing pipeline (a member of SpeechManager, kept with the correction code).
#include "common/Clock.h"
#include "common/Logger.h"
#include "correction/GeminiService.h"
#include "correction/TextFormatter.h"
#include "correction/TextProcessor.h"
#include "desktop/PasteService.h"
#include "recording/AudioAccumulator.h"
#include "recording/DebugLog.h"
#include "recording/SpeechManager.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"

#include <QPointer>

namespace vel {

namespace {
QString milliseconds(double seconds) { return QString::number(seconds * 1000.0, 'f', 0); }
} // namespace

Task<void> SpeechManager::processAndPaste(AppSettings& settings, UsageTracker* usageTracker, RecordingHistory* history)
{
    QPointer<SpeechManager> self(this);
    setIsProcessingPipeline(true);
    if (m_stealthCompletionTimer)
        m_stealthCompletionTimer->stop();
    setStealthCompletionVisible(false);
    m_correctionFailure.clear();
    const double t0 = m_clock.now();

    const QString raw = m_transcribedText;
    const ApplicationRef target = m_workspaceMonitor.targetApp();

    std::optional<QByteArray> wav;
    qint64 trimmedBytes = 0;
    qint64 droppedBytes = 0;
    if (m_accumulator) {
        trimmedBytes = m_accumulator->trimmedBytes();
        droppedBytes = m_accumulator->droppedBytes();
        wav = m_accumulator->buildWAV();
    }
    m_accumulator.reset();

    if (!m_isContinuousMode && target)
        m_workspaceMonitor.setTargetApp(nullptr);

    if (wav) {
        emit wavBuilt(*wav);
        const QString line = QStringLiteral("⚡ [perf] WAV build: %1s audio, trimmed %2s silence (%3 bytes)")
                                 .arg(QString::number(static_cast<double>(wav->size() - 44) / 32000.0, 'f', 1),
                                      QString::number(static_cast<double>(trimmedBytes) / 32000.0, 'f', 1))
                                 .arg(wav->size());
        m_log.line(line);
        m_debugLog.appendIfExists(QLatin1Char('\n') + line + QLatin1Char('\n'));
        if (droppedBytes > 0)
            m_log.line(QStringLiteral("✂️ [SpeechManager] %1s of audio past the limit are not sent")
                           .arg(QString::number(static_cast<double>(droppedBytes) / 32000.0, 'f', 1)));
    }

    if (!wav && TextFormatter::trimWhitespaceAndNewlines(raw).isEmpty()) {
        setStatusMessage(QStringLiteral("🚫 音声が検出されませんでした"));
        setIsCancelled(true);
        setIsProcessingPipeline(false);
        co_return;
    }

    const QList<DictionaryEntry> entries = settings.dictionaryEntries();
    const QString local = TextProcessor::localText(raw, settings.removeFillers(), entries);
    setTranscribedText(TextFormatter::format(local));

    QString finalText;
    std::optional<QString> originalText;
    const QString apiKey = settings.geminiApiKey();
    const CorrectionMode mode = settings.correctionMode();
    if (apiKey.isEmpty() || mode == CorrectionMode::Instant || !m_services.gemini) {
        finalText = TextFormatter::format(local);
    } else {
        setIsRewriting(true);
        setStatusMessage(QStringLiteral("✍️ 認識中..."));
        const double geminiStart = m_clock.now();
        std::optional<GeminiResult> result;
        std::exception_ptr failure;
        try {
            if (!wav) {
                result = co_await m_services.gemini->rewrite(local, apiKey, settings.userOccupation(),
                                                             settings.assumePoorDiction(), mode);
            } else {
                m_log.line(QStringLiteral("📤 [SpeechManager] sending audio to Gemini: %1 bytes").arg(wav->size()));
                result = co_await m_services.gemini->transcribeAudio(*wav, apiKey, settings.userOccupation(),
                                                                     settings.assumePoorDiction(), mode);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (result) {
            m_log.line(QStringLiteral("⚡ [perf] Gemini API call: ") + milliseconds(m_clock.now() - geminiStart)
                       + QStringLiteral("ms"));
            m_log.line(QStringLiteral("📝 [Gemini raw] ") + quotedDebugForm(result->text));
            const QString formatted = TextFormatter::format(TextProcessor::postProcessGeminiText(result->text, entries));
            m_log.line(QStringLiteral("📝 [TextFormatter] ") + quotedDebugForm(formatted));
            setRewrittenText(formatted);
            if (result->usage && usageTracker)
                usageTracker->recordUsage(*result->usage);
            // The local text covers the whole recording; Gemini heard only its start.
            setStatusMessage(wav && droppedBytes > 0 ? QStringLiteral("✅ 完了（Geminiには最初の7分だけを送りました）")
                                                     : QStringLiteral("✅ 完了"));
            m_log.line(QStringLiteral("⚡ [perf] total processAndPaste: ") + milliseconds(m_clock.now() - t0)
                       + QStringLiteral("ms"));
            setIsRewriting(false);
            if (!formatted.isEmpty()) {
                finalText = TextFormatter::format(formatted);
                originalText = local;
            } else {
                finalText = TextFormatter::format(local);
            }
        } else {
            setStatusMessage(QStringLiteral("⚠️ 失敗: ") + describeError(failure));
            m_correctionFailure = QStringLiteral("⚠️ Gemini: ") + describeError(failure);
            setIsRewriting(false);
            finalText = TextFormatter::format(local);
        }
    }

    // An abandoned result (a new dictation, or a cancel, while it was being corrected) is not
    // pasted, since the user has moved on; it is still kept, so the words are not lost.
    if (!finalText.isEmpty() && history)
        history->add(history->makeEntry(finalText, originalText));
    const bool abandoned = co_await taskCancelled();
    if (abandoned) {
        setIsProcessingPipeline(false);
        co_return;
    }

    if (!finalText.isEmpty()) {
        if (m_services.paste) {
            const QString status = co_await m_services.paste->copyAndPaste(finalText, target);
            if (!self)
                co_return;
            setStatusMessage(status);
        }
    }

    setIsProcessingComplete(true);
    setIsProcessingPipeline(false);
    setStealthCompletionVisible(true);
    m_stealthCompletionTimer = m_clock.schedule(2.0, false, [self] {
        if (self && self->m_stealthCompletionVisible)
            self->setStealthCompletionVisible(false);
    });
}

} // namespace vel
