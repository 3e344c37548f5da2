#include "recording/SpeechManager.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "recording/AudioAccumulator.h"
#include "recording/AudioFanOut.h"
#include "recording/DebugLog.h"
#include "recording/ModelCheck.h"

#include <QPointer>

namespace vel {

namespace {

QString speechErrorDescription(SpeechError::Kind kind)
{
    switch (kind) {
    case SpeechError::Kind::LocaleNotSupported:
        return QStringLiteral("日本語の音声認識がこのデバイスでサポートされていません。");
    case SpeechError::Kind::AudioFormatError: return QStringLiteral("オーディオフォーマットの取得に失敗しました。");
    case SpeechError::Kind::RecognizerUnavailable:
        return QStringLiteral("日本語の音声認識モデルがまだ使えません。モデルの準備ができるまで待つか、Gemini APIキーを設定してください。");
    }
    return {};
}

// The recogniser of a stopped dictation finishes in the background; its outcome is not needed.
Task<void> finalizeQuietly(std::shared_ptr<RecognizerSession> session)
{
    try {
        co_await session->finalizeAndFinishThroughEndOfInput();
    } catch (...) {
    }
}

Task<void> finalizeAfterCancel(Logger& log, std::shared_ptr<RecognizerSession> session)
{
    log.line(QStringLiteral("🎤 [CANCEL] finalizing analyzer..."));
    if (session) {
        std::exception_ptr error;
        try {
            co_await session->finalizeAndFinishThroughEndOfInput();
        } catch (...) {
            error = std::current_exception();
        }
        if (error)
            log.line(QStringLiteral("🎤 [CANCEL] analyzer finalize error: ") + describeError(error));
    }
    log.line(QStringLiteral("🎤 [CANCEL] done"));
}

} // namespace

SpeechError::SpeechError(Kind kind) : Error(speechErrorDescription(kind)), m_kind(kind) {}
SpeechError::SpeechError(Kind kind, QString description) : Error(std::move(description)), m_kind(kind) {}

SpeechManager::SpeechManager(Logger& log, Clock& clock, SpeechRecognizer& recognizer, AudioInput& audioInput,
                             DebugLog& debugLog, ConverterFactory converters, const ModelCheck* modelCheck,
                             QObject* parent)
    : QObject(parent), m_log(log), m_clock(clock), m_recognizer(recognizer), m_audioInput(audioInput),
      m_debugLog(debugLog), m_converters(std::move(converters)), m_modelCheck(modelCheck)
{
}

SpeechManager::~SpeechManager()
{
    // The tap holds this object; it must be gone before we are.
    stopAudio();
    m_recognizerTask.cancel();
}

// --- published state: assigning an equal value notifies nobody

#define VEL_ASSIGN(member, value, signal) \
    do {                                  \
        if (member == (value))            \
            return;                       \
        member = (value);                 \
        emit signal();                    \
    } while (false)

void SpeechManager::setTranscribedText(const QString& v) { VEL_ASSIGN(m_transcribedText, v, transcribedTextChanged); }
void SpeechManager::setIsRecording(bool v) { VEL_ASSIGN(m_isRecording, v, isRecordingChanged); }
void SpeechManager::setProcessingTime(double v) { VEL_ASSIGN(m_processingTime, v, processingTimeChanged); }
void SpeechManager::setAudioLevel(float v) { VEL_ASSIGN(m_audioLevel, v, audioLevelChanged); }
void SpeechManager::setElapsedTime(double v) { VEL_ASSIGN(m_elapsedTime, v, elapsedTimeChanged); }
void SpeechManager::setSilenceCountdown(std::optional<int> v) { VEL_ASSIGN(m_silenceCountdown, v, silenceCountdownChanged); }

#undef VEL_ASSIGN

StoppedDictation SpeechManager::takeStoppedDictation()
{
    StoppedDictation out{m_transcribedText, std::move(m_accumulator), m_recognizerFailure, m_audioForGemini};
    m_accumulator.reset();
    return out;
}

Task<RecognizedRecording> SpeechManager::recognizeRecording(QByteArray pcm)
{
    RecognizedRecording out;
    if (m_recognizer.isLoading())
        co_await m_recognizer.untilLoaded();
    const std::shared_ptr<RecognizerSession> session =
        m_recognizer.isAvailable() ? m_recognizer.makeSession(kLocale, {}, AudioFormat::int16Mono16k()) : nullptr;
    if (!session) {
        const QString why = m_recognizer.loadFailure();
        out.failure = why.isEmpty() ? QStringLiteral("音声認識モデルがまだありません") : why;
        co_return out;
    }
    constexpr qsizetype kChunk = 32000; // a second at a time, as a microphone would give it
    for (qsizetype at = 0; at < pcm.size(); at += kChunk)
        session->appendAudio(AudioBuffer{AudioFormat::int16Mono16k(), pcm.mid(at, kChunk)});
    session->finishInput();
    try {
        for (;;) {
            const std::optional<RecognitionResult> result = co_await session->nextResult();
            if (!result)
                break;
            if (result->isFinal && !result->text.trimmed().isEmpty())
                out.text += (out.text.isEmpty() ? QString() : QStringLiteral("\n")) + result->text;
        }
    } catch (...) {
        out.failure = describeError(std::current_exception());
    }
    co_return out;
}

bool SpeechManager::heardSpeech() const { return m_accumulator && m_accumulator->hasSpeech(); }

bool SpeechManager::hasAnyRecognizedText() const
{
    auto hasText = [](const QString& s) { return !s.trimmed().isEmpty(); };
    return hasText(m_transcribedText) || hasText(m_latestRecognizedText);
}

double SpeechManager::secondsSinceStart() const
{
    const double now = m_clock.now();
    return now - m_startTime.value_or(now);
}

// --- start

Task<void> SpeechManager::startRecording(bool needsGeminiAudio, QStringList contextualStrings,
                                         std::optional<double> silenceSeconds)
{
    m_log.line(QStringLiteral("🎤 [START] enter: isRecording=") + boolText(m_isRecording));
    if (m_isRecording) {
        m_log.line(QStringLiteral("🎤 [START] guard failed — already recording"));
        co_return;
    }

    setTranscribedText(QString());
    m_accumulatedText.clear();
    m_latestRecognizedText.clear();
    m_recognizerFailure.clear();
    setHeardText(QString());
    m_audioForGemini = needsGeminiAudio;
    setProcessingTime(0);

    setIsRecording(true);
    m_log.line(QStringLiteral("🎤 [START] isRecording=true set (early)"));
    const quint64 generation = ++m_generation;

    // A model being loaded (a launch, a new choice) is waited for: the dictation would
    // otherwise run without it, or fail.
    if (m_recognizer.isLoading()) {
        m_log.line(QStringLiteral("🎤 [START] waiting for the model being loaded"));
        emit waitingForModel(true);
        co_await m_recognizer.untilLoaded();
        emit waitingForModel(false);
        if (!m_isRecording || m_generation != generation) {
            m_log.line(QStringLiteral("🎤 [START] stopped while the model was loading"));
            co_return;
        }
    }

    std::exception_ptr failure;
    try {
        const bool recognizerAvailable = m_recognizer.isAvailable();
        // Without a local recogniser only a dictation whose audio goes to Gemini can run.
        const std::optional<int> downloaded = m_modelCheck ? m_modelCheck->downloadPercent() : std::nullopt;
        if (!recognizerAvailable && !needsGeminiAudio && downloaded)
            throw SpeechError(SpeechError::Kind::RecognizerUnavailable,
                              QStringLiteral("日本語モデルをダウンロード中です（%1 %）。終わるまで待つか、Gemini APIキーを設定してください。")
                                  .arg(*downloaded));
        if (!recognizerAvailable && !needsGeminiAudio)
            throw SpeechError(SpeechError::Kind::RecognizerUnavailable);

        if (recognizerAvailable) {
            if (!m_cachedAudioFormat) {
                m_cachedAudioFormat = co_await m_recognizer.bestAudioFormat(kLocale);
            }
            m_analyzerFormat = m_cachedAudioFormat;
            if (!contextualStrings.isEmpty())
                m_log.line(QStringLiteral("🔤 [SpeechManager] contextualStrings set: %1 terms").arg(contextualStrings.size()));
            if (m_analyzerFormat) {
                m_session = m_recognizer.makeSession(kLocale, contextualStrings, *m_analyzerFormat);
                m_inputOpen = static_cast<bool>(m_session);
            }
        } else {
            m_analyzerFormat.reset();
            const QString why = m_recognizer.loadFailure();
            m_recognizerFailure = why.isEmpty() ? QStringLiteral("音声認識モデルがまだありません") : why;
        }
        m_startTime = m_clock.now();
        if (m_session)
            m_recognizerTask = spawn(this, consumeResults(m_session));
        // Kept whether or not Gemini will hear it: should the local recogniser fail, the
        // recording is what is left of the dictation.
        m_accumulator = std::make_shared<AudioAccumulator>();
        if (recognizerAvailable && (!m_analyzerFormat || !m_session))
            throw SpeechError(SpeechError::Kind::AudioFormatError);

        std::shared_ptr<AudioAccumulator> accumulator = m_accumulator;
        AudioFanOut::GeminiAudioHandler geminiAudio;
        if (accumulator)
            geminiAudio = [accumulator](const QByteArray& pcm, float level) { accumulator->append(pcm, level); };
        auto levelHandler = [this, generation](float level) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, level] {
                    if (m_isRecording && m_generation == generation)
                        setAudioLevel(level);
                },
                Qt::QueuedConnection);
        };
        auto fanOut = std::make_shared<AudioFanOut>(m_audioInput.inputFormat(), m_analyzerFormat, m_session,
                                                    std::move(geminiAudio), std::move(levelHandler), m_converters);
        m_audioInput.onDeviceLost = [this, generation] {
            if (m_isRecording && m_generation == generation)
                emit audioDeviceLost();
        };
        m_audioInput.start([fanOut](const AudioBuffer& buffer) { fanOut->process(buffer); });
        m_audioRunning = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        rollBack();
        m_log.line(QStringLiteral("🎤 [START] failed, rolled back: ") + describeError(failure));
        std::rethrow_exception(failure);
    }

    setElapsedTime(0);
    m_elapsedTimer = m_clock.schedule(1.0, true, [this] {
        if (m_isRecording)
            setElapsedTime(secondsSinceStart());
    });
    if (silenceSeconds) {
        m_log.line(QStringLiteral("🔄 [continuous] silence detection started"));
        startSilenceDetection(*silenceSeconds);
    }
}

void SpeechManager::stopAudio()
{
    if (m_audioRunning) {
        m_audioInput.stop();
        m_audioInput.removeTap();
        m_audioRunning = false;
    }
    m_audioInput.onDeviceLost = nullptr;
}

std::shared_ptr<RecognizerSession> SpeechManager::releaseDictation()
{
    stopAudio();
    m_accumulator.reset();
    if (m_session && m_inputOpen)
        m_session->finishInput();
    m_inputOpen = false;
    m_recognizerTask.cancel();
    m_recognizerTask = TaskHandle();
    return std::exchange(m_session, nullptr);
}

void SpeechManager::rollBack()
{
    setIsRecording(false);
    releaseDictation();
}

// --- results

Task<void> SpeechManager::consumeResults(std::shared_ptr<RecognizerSession> session)
{
    try {
        for (;;) {
            const std::optional<RecognitionResult> result = co_await session->nextResult();
            const bool cancelled = co_await taskCancelled();
            if (cancelled)
                co_return;
            if (!result)
                break;
            applyResult(*result);
        }
    } catch (...) {
        // The sequence ended with an error (its engine ended): the recording goes on without it.
        m_recognizerFailure = describeError(std::current_exception());
        m_log.line(QStringLiteral("⚠️ [SpeechManager] the recogniser failed: ") + m_recognizerFailure);
    }
    const bool cancelled = co_await taskCancelled();
    if (cancelled)
        co_return;
    closeResults();
}

void SpeechManager::setHeardText(const QString& v)
{
    if (v == m_heardText)
        return;
    m_heardText = v;
    emit heardTextChanged();
}

void SpeechManager::applyResult(const RecognitionResult& result)
{
    if (result.text != m_latestRecognizedText)
        m_latestRecognizedText = result.text;
    if (!result.isFinal) {
        setHeardText(m_accumulatedText.isEmpty() ? result.text : m_accumulatedText + QLatin1Char('\n') + result.text);
        return;
    }
    if (!m_accumulatedText.isEmpty())
        m_accumulatedText += QLatin1Char('\n');
    m_accumulatedText += result.text;
    setTranscribedText(m_accumulatedText);
    setHeardText(m_accumulatedText);
    setProcessingTime(secondsSinceStart());
}

void SpeechManager::closeResults()
{
    if (m_latestRecognizedText.isEmpty())
        return;
    if (!m_accumulatedText.endsWith(m_latestRecognizedText)) {
        if (!m_accumulatedText.isEmpty())
            m_accumulatedText += QLatin1Char('\n');
        m_accumulatedText += m_latestRecognizedText;
    }
    setTranscribedText(m_accumulatedText);
    setProcessingTime(secondsSinceStart());
}

// --- stop and cancel

Task<void> SpeechManager::stopRecording(bool waitForSpeech)
{
    if (!m_isRecording)
        co_return;
    const double t0 = m_clock.now();
    setAudioLevel(0);
    m_elapsedTimer.reset();
    stopSilenceDetection();
    setIsRecording(false);
    stopAudio();
    std::shared_ptr<RecognizerSession> session = m_session;
    if (session && m_inputOpen)
        session->finishInput();
    m_inputOpen = false;

    if (waitForSpeech) {
        if (session) {
            try {
                co_await session->finalizeAndFinishThroughEndOfInput();
            } catch (...) {
            }
        }
        if (m_recognizerTask.isValid()) {
            const TaskHandle task = m_recognizerTask;
            co_await task.finished();
        }
    } else {
        m_recognizerTask.cancel();
        m_recognizerTask = TaskHandle();
        m_session.reset();
        if (session)
            spawn(finalizeQuietly(session));
        m_log.line(QStringLiteral("⚡ [perf] speech finalization SKIPPED (Gemini Audio mode)"));
    }

    if (m_processingTime == 0)
        setProcessingTime(secondsSinceStart());
    m_log.line(QStringLiteral("⚡ [perf] stopRecording: %1ms (waitForSpeech=%2)")
                   .arg(QString::number((m_clock.now() - t0) * 1000.0, 'f', 0), boolText(waitForSpeech)));
}

void SpeechManager::cancelRecording()
{
    m_log.line(QStringLiteral("🎤 [CANCEL] enter: isRecording=") + boolText(m_isRecording));
    if (!m_isRecording) {
        m_log.line(QStringLiteral("🎤 [CANCEL] guard failed — already not recording, returning early"));
        return;
    }
    setAudioLevel(0);
    m_elapsedTimer.reset();
    stopSilenceDetection(); // continuous mode itself is the controller's to leave
    setTranscribedText(QString());
    setIsRecording(false);
    m_log.line(QStringLiteral("🎤 [CANCEL] state updated: isRecording=false"));

    // Bound to this recorder: the log it writes to may not outlive it (the command line, tests).
    spawn(this, finalizeAfterCancel(m_log, releaseDictation()));
}

Task<void> SpeechManager::prepareAudioFormat()
{
    if (m_cachedAudioFormat)
        co_return;
    const std::optional<AudioFormat> format = co_await m_recognizer.bestAudioFormat(kLocale);
    if (!m_cachedAudioFormat)
        m_cachedAudioFormat = format;
}

} // namespace vel
