#include "dictation/ProcessAndPaste.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "correction/GeminiService.h"
#include "correction/TextFormatter.h"
#include "correction/TextProcessor.h"
#include "dictation/PasteService.h"
#include "recording/AudioAccumulator.h"
#include "recording/KeptAudio.h"
#include "recording/SpeechManager.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"


namespace vel {

namespace {
QString milliseconds(double seconds) { return QString::number(seconds * 1000.0, 'f', 0); }

qsizetype visibleCharacters(const QString& text)
{
    qsizetype n = 0;
    for (const QChar c : text)
        n += !c.isSpace() && !c.isLowSurrogate();
    return n;
}

// The longest and shortest answers a dictation can have: a fast speaker says about ten
// characters a second; a correction rewrites, it neither multiplies nor drops the text.
constexpr double kCharactersPerSecond = 15.0;
constexpr qsizetype kSlack = 40;
constexpr qsizetype kGrowth = 4;
constexpr qsizetype kShrink = 4;
constexpr qsizetype kShortestJudged = 40;
} // namespace

QString implausibleAnswer(const QString& answer, const QString& localText, std::optional<double> audioSeconds)
{
    const qsizetype got = visibleCharacters(answer);
    const qsizetype local = visibleCharacters(localText);
    if (audioSeconds && got > static_cast<qsizetype>(*audioSeconds * kCharactersPerSecond) + kSlack)
        return QStringLiteral("応答が録音の長さ（%1秒）に比べて長すぎます（%2文字）").arg(QString::number(*audioSeconds, 'f', 1)).arg(got);
    // The recording is what Gemini heard: the local text may have missed much of it.
    if (!audioSeconds && got > local * kGrowth + kSlack)
        return QStringLiteral("応答が元の文（%1文字）に比べて長すぎます（%2文字）").arg(local).arg(got);
    if (local >= kShortestJudged && got * kShrink < local)
        return QStringLiteral("応答が元の文（%1文字）に比べて短すぎます（%2文字）。途中で切れた可能性があります").arg(local).arg(got);
    return {};
}

bool sendsAudioToGemini(const AppSettings& settings, std::optional<CorrectionMode> mode)
{
    return !settings.geminiApiKey().isEmpty() && mode.value_or(settings.correctionMode()) != CorrectionMode::Instant;
}

QString Correction::finalText(const QString& localText) const
{
    return TextFormatter::format(rewritten && !rewritten->isEmpty() ? *rewritten : localText);
}

Task<Correction> correctWithGemini(QString localText, std::optional<QByteArray> wav, CorrectionMode mode,
                                   AppSettings& settings, GeminiService& gemini, UsageTracker* usage,
                                   Logger& log, Clock& clock)
{
    const QString apiKey = settings.geminiApiKey();
    const double start = clock.now();
    Correction correction;
    try {
        GeminiResult result;
        if (!wav) {
            result = co_await gemini.rewrite(localText, apiKey, settings.userOccupation(), settings.assumePoorDiction(),
                                             mode);
        } else {
            log.line(QStringLiteral("📤 [SpeechManager] sending audio to Gemini: %1 bytes").arg(wav->size()));
            result = co_await gemini.transcribeAudio(*wav, apiKey, settings.userOccupation(),
                                                     settings.assumePoorDiction(), mode);
        }
        log.line(QStringLiteral("⚡ [perf] Gemini API call: ") + milliseconds(clock.now() - start) + QStringLiteral("ms"));
        const QString formatted
            = TextFormatter::format(TextProcessor::postProcessGeminiText(result.text, settings.dictionaryEntries()));
        log.line(QStringLiteral("📝 [TextFormatter] %1 characters").arg(formatted.size()));
        if (result.usage && usage)
            usage->recordUsage(*result.usage);
        std::optional<double> seconds;
        if (wav)
            seconds = static_cast<double>(std::max<qsizetype>(0, wav->size() - 44)) / 32000.0;
        correction.failure = implausibleAnswer(formatted, localText, seconds);
        if (correction.failure.isEmpty())
            correction.rewritten = formatted;
        else
            log.line(QStringLiteral("⚠️ [Gemini] answer not used: ") + correction.failure);
    } catch (...) {
        correction.failure = describeError(std::current_exception());
    }
    co_return correction;
}

Task<CleanedText> cleanAndCorrect(QString raw, std::optional<QByteArray> wav, bool audioCut, CorrectionMode mode,
                                  AppSettings& settings, GeminiService* gemini, UsageTracker* usage,
                                  PipelineProgress progress, Logger& log, Clock& clock)
{
    CleanedText cleaned;
    const QString local = TextProcessor::localText(raw, settings.removeFillers(), settings.dictionaryEntries());
    cleaned.finalText = TextFormatter::format(local);
    if (progress.transcribed)
        progress.transcribed(cleaned.finalText);
    if (!gemini || !sendsAudioToGemini(settings, mode))
        co_return cleaned;
    auto say = [&progress](const QString& line) {
        if (progress.status)
            progress.status(line);
    };
    if (progress.rewriting)
        progress.rewriting(true);
    say(QStringLiteral("✍️ 認識中..."));
    const Correction correction = co_await correctWithGemini(local, wav, mode, settings, *gemini, usage, log, clock);
    if (correction.rewritten) {
        cleaned.corrected = true;
        if (progress.rewritten)
            progress.rewritten(*correction.rewritten);
        // The local text covers the whole recording; Gemini heard only its start.
        say(wav && audioCut ? QStringLiteral("✅ 完了（Geminiには最初の7分だけを送りました）") : QStringLiteral("✅ 完了"));
        if (!correction.rewritten->isEmpty())
            cleaned.originalText = local;
    } else {
        say(QStringLiteral("⚠️ 失敗: ") + correction.failure);
        cleaned.correctionFailure = correction.failure;
    }
    if (progress.rewriting)
        progress.rewriting(false);
    cleaned.finalText = correction.finalText(local);
    co_return cleaned;
}

std::optional<QUuid> keepForRetry(const QByteArray& wav, const QString& why, const PipelineServices& services, Logger& log)
{
    if (!services.kept || !services.history)
        return std::nullopt;
    QString failure;
    const std::optional<QString> name = services.kept->keep(wav, &failure);
    if (!name) {
        log.line(QStringLiteral("⚠️ [kept] the recording could not be kept: ") + failure);
        return std::nullopt;
    }
    RecordingEntry entry = services.history->makeEntry(QString(), std::nullopt);
    entry.keptAudio = *name;
    entry.untranscribed = why;
    services.history->add(entry);
    log.line(QStringLiteral("💾 [kept] a recording without words is kept for a later try: %1 bytes").arg(wav.size()));
    return entry.id;
}

Task<DictationOutcome> processAndPaste(StoppedDictation dictation, ApplicationRef target, AppSettings& settings,
                                       PipelineServices services, PipelineProgress progress, Logger& log, Clock& clock)
{
    const double t0 = clock.now();
    const QString raw = dictation.rawText;
    DictationOutcome outcome;
    QString status; // the status line as last reported
    auto say = [&status, &progress](const QString& line) {
        status = line;
        if (progress.status)
            progress.status(line);
    };

    // The recording goes to Gemini where it is used; and is kept when nothing else gives words:
    // the local recogniser failed, and Gemini is not asked or fails.
    const bool rawEmpty = TextFormatter::trimWhitespaceAndNewlines(raw).isEmpty();
    const bool gemini = services.gemini && sendsAudioToGemini(settings) && dictation.audioForGemini;
    const bool heard = dictation.audio && dictation.audio->hasSpeech();
    const bool lost = rawEmpty && heard && !dictation.recognizerFailure.isEmpty();
    std::optional<QByteArray> wav;
    qint64 trimmedBytes = 0;
    qint64 droppedBytes = 0;
    if (dictation.audio && (gemini || lost)) {
        trimmedBytes = dictation.audio->trimmedBytes();
        droppedBytes = dictation.audio->droppedBytes();
        wav = dictation.audio->buildWAV();
    }
    dictation.audio.reset();
    const auto keep = [&](const QString& why) {
        outcome.kind = DictationOutcome::Kind::Failed;
        const std::optional<QUuid> kept = wav && heard ? keepForRetry(*wav, why, services, log) : std::nullopt;
        outcome.retryEntry = kept.value_or(QUuid());
        outcome.status = QStringLiteral("⚠️ %1").arg(why)
                         + (kept ? QStringLiteral("。録音を保存しました（履歴から再試行できます）") : QString());
        say(outcome.status);
    };

    if (wav) {
        if (progress.wavBuilt)
            progress.wavBuilt(*wav);
        const QString line = QStringLiteral("⚡ [perf] WAV build: %1s audio, trimmed %2s silence (%3 bytes)")
                                 .arg(QString::number(static_cast<double>(wav->size() - 44) / 32000.0, 'f', 1),
                                      QString::number(static_cast<double>(trimmedBytes) / 32000.0, 'f', 1))
                                 .arg(wav->size());
        log.line(line);
        if (progress.debugLine)
            progress.debugLine(line);
        if (droppedBytes > 0)
            log.line(QStringLiteral("✂️ [SpeechManager] %1s of audio past the limit are not sent")
                           .arg(QString::number(static_cast<double>(droppedBytes) / 32000.0, 'f', 1)));
    }

    if (lost && !gemini) {
        keep(QStringLiteral("音声認識に失敗しました: ") + dictation.recognizerFailure);
        co_return outcome;
    }
    if (rawEmpty && !(gemini && wav)) {
        outcome.kind = DictationOutcome::Kind::NothingHeard;
        outcome.status = QStringLiteral("🚫 音声が検出されませんでした");
        say(outcome.status);
        co_return outcome;
    }

    PipelineProgress tracked = progress;
    tracked.status = say;
    const CleanedText cleaned = co_await cleanAndCorrect(raw, wav, droppedBytes > 0, settings.correctionMode(), settings,
                                                         services.gemini, services.usage, tracked, log, clock);
    if (cleaned.corrected)
        log.line(QStringLiteral("⚡ [perf] total processAndPaste: ") + milliseconds(clock.now() - t0) + QStringLiteral("ms"));
    const QString finalText = cleaned.finalText;
    const std::optional<QString> originalText = cleaned.originalText;
    if (!cleaned.correctionFailure.isEmpty())
        outcome.correctionFailure = QStringLiteral("⚠️ Gemini: ") + cleaned.correctionFailure;
    outcome.text = finalText;

    // An abandoned result (a new dictation, or a cancel, while it was being corrected) is not
    // pasted, since the user has moved on; it is still kept, so the words are not lost.
    if (!finalText.isEmpty() && services.history)
        services.history->add(services.history->makeEntry(finalText, originalText));
    const bool abandoned = co_await taskCancelled();
    if (abandoned) {
        outcome.kind = DictationOutcome::Kind::Abandoned;
        co_return outcome;
    }

    if (finalText.isEmpty() && !outcome.correctionFailure.isEmpty()) {
        // Only Gemini could have given the words (no local text), and it failed: the recording
        // is kept for a later try.
        keep(QStringLiteral("失敗: ") + cleaned.correctionFailure);
    } else if (finalText.isEmpty()) {
        // Only fillers, or Gemini heard no words in the audio: nothing to paste.
        outcome.kind = DictationOutcome::Kind::NothingHeard;
        outcome.status = QStringLiteral("🚫 ペーストする言葉がありませんでした");
        say(outcome.status);
    } else if (services.paste) {
        const PasteService::Result pasted = co_await services.paste->copyAndPaste(finalText, target);
        outcome.kind = pasted.pasted ? DictationOutcome::Kind::Pasted : DictationOutcome::Kind::Kept;
        outcome.status = pasted.status;
        outcome.reason = pasted.reason;
        outcome.onClipboard = pasted.copied;
        say(pasted.status);
    } else {
        outcome.kind = DictationOutcome::Kind::Kept;
        outcome.status = status;
    }
    co_return outcome;
}

} // namespace vel
