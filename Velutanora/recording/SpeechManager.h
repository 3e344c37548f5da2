#pragma once

#include "common/Error.h"
#include "common/Task.h"
#include "recording/AudioConverter.h"
#include "recording/AudioInput.h"
#include "recording/SilenceDetector.h"
#include "recording/SpeechRecognizer.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace vel {

class AppSettings;
class AudioAccumulator;
class Clock;
class ClockTimer;
class DebugLog;
class Logger;
class ModelCheck;
class RecordingHistory;
class UsageTracker;

class SpeechError : public Error {
public:
    enum class Kind { LocaleNotSupported, AudioFormatError, RecognizerUnavailable };
    explicit SpeechError(Kind kind);
    SpeechError(Kind kind, QString description);
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// What a stopped dictation leaves for processing: the recognised text, the recording (for Gemini,
// or to be kept when no words come of it), and why the local recogniser gave no text when it failed.
struct StoppedDictation {
    QString rawText;
    std::shared_ptr<AudioAccumulator> audio;
    QString recognizerFailure;
    bool audioForGemini = false; // the recording was asked for Gemini at the start
};

// What the local recogniser made of a whole recording: its text, or why there is none.
struct RecognizedRecording {
    QString text;
    QString failure;
};

// One recording session: the audio, the recogniser, the assembly of its results into text, the
// audio kept for Gemini, and the silence detector that ends an utterance in continuous mode.
// What the dictation shows and decides is the controller's (Dictation); this only reports.
// Main thread only; the audio thread reaches it only through queued level updates.
class SpeechManager final : public QObject {
    Q_OBJECT
public:
    static inline const QString kLocale = QStringLiteral("ja_JP");

    // modelCheck (may be null): a start that needs the recogniser while the model downloads
    // says how far the download is.
    SpeechManager(Logger& log, Clock& clock, SpeechRecognizer& recognizer, AudioInput& audioInput, DebugLog& debugLog,
                  ConverterFactory converters = LinearConverter::factory(), const ModelCheck* modelCheck = nullptr,
                  QObject* parent = nullptr);
    ~SpeechManager() override;

    // --- the session
    // The recognised text so far (finished phrases, one per line).
    QString transcribedText() const { return m_transcribedText; }
    bool isRecording() const { return m_isRecording; }
    // The finished phrases and the one under way, which the recogniser may still change.
    QString heardText() const { return m_heardText; }
    // Seconds from the start to the last recognised phrase (or to the stop).
    double processingTime() const { return m_processingTime; }
    float audioLevel() const { return m_audioLevel; }
    double elapsedTime() const { return m_elapsedTime; }
    std::optional<int> silenceCountdown() const { return m_silenceCountdown; }
    // What the audio input says about itself after a start (a fallback device), or nothing.
    QString audioNotice() const { return m_audioInput.fallbackNotice(); }

    DebugLog& debugLog() const { return m_debugLog; }

    // --- operations
    // silenceSeconds: end the utterance after this much silence (continuous mode): the
    // silenceDetected signal says so, and the recording goes on until the caller stops it.
    Task<void> startRecording(bool needsGeminiAudio, QStringList contextualStrings,
                              std::optional<double> silenceSeconds = std::nullopt);
    Task<void> stopRecording(bool waitForSpeech);
    void cancelRecording();
    bool hasAnyRecognizedText() const;
    // Asks the recogniser for its audio format once, ahead of the first dictation.
    Task<void> prepareAudioFormat();

    void startSilenceDetection(double silenceSeconds);
    void stopSilenceDetection();

    // The stopped dictation, handed to the processing (the kept audio goes with it).
    StoppedDictation takeStoppedDictation();
    // A recording (16 kHz 16-bit mono) through the local recogniser, outside any dictation.
    Task<RecognizedRecording> recognizeRecording(QByteArray pcm);

    // Whether the recording of this dictation holds any speech.
    bool heardSpeech() const;
    // Why the local recogniser gave, or gives, no text in this dictation: none at hand, or its
    // engine ended (empty while it works).
    QString recognizerFailure() const { return m_recognizerFailure; }
    // Whether the recogniser is still working through audio it was given.
    bool isRecognizerBusy() const { return m_session && m_session->isBusy(); }

    // The audio kept for Gemini in this dictation, if any.
    std::shared_ptr<AudioAccumulator> geminiAudioAccumulator() const { return m_accumulator; }

    // Resource checks (what a stop, a cancel or a failed start must release).
    bool isAudioRunning() const { return m_audioRunning; }
    bool hasRecognizerSession() const { return static_cast<bool>(m_session); }
    bool hasRecognizerTask() const { return m_recognizerTask.isValid(); }
    bool isRecognizerInputOpen() const { return m_inputOpen; }
    bool hasSilenceTimer() const { return static_cast<bool>(m_silenceTimer); }
    std::optional<AudioFormat> cachedAudioFormat() const { return m_cachedAudioFormat; }
    QString latestRecognizedText() const { return m_latestRecognizedText; }

signals:
    void transcribedTextChanged();
    void heardTextChanged();
    void isRecordingChanged();
    void processingTimeChanged();
    void audioLevelChanged();
    void elapsedTimeChanged();
    void silenceCountdownChanged();
    // The silence of continuous mode lasted long enough: the utterance is over.
    void silenceDetected();
    // The microphone went away while recording; dictation control stops as a second press would.
    void audioDeviceLost();
    // A start waits for the model being loaded (true), or its wait is over (false).
    void waitingForModel(bool waiting);

private:
    void setTranscribedText(const QString& v);
    void setHeardText(const QString& v);
    void setIsRecording(bool v);
    void setProcessingTime(double v);
    void setAudioLevel(float v);
    void setElapsedTime(double v);
    void setSilenceCountdown(std::optional<int> v);

    Task<void> consumeResults(std::shared_ptr<RecognizerSession> session);
    void applyResult(const RecognitionResult& result);
    void closeResults();
    double secondsSinceStart() const;
    void stopAudio();
    void rollBack();
    // Stops the audio, drops the kept audio, ends the recogniser's input and its result task, in
    // that order; returns the recogniser session, which the caller finalises or drops.
    std::shared_ptr<RecognizerSession> releaseDictation();
    void silenceTick();

    Logger& m_log;
    Clock& m_clock;
    SpeechRecognizer& m_recognizer;
    AudioInput& m_audioInput;
    DebugLog& m_debugLog;
    ConverterFactory m_converters;
    const ModelCheck* m_modelCheck;

    QString m_transcribedText;
    bool m_isRecording = false;
    double m_processingTime = 0;
    float m_audioLevel = 0;
    double m_elapsedTime = 0;
    std::optional<int> m_silenceCountdown;
    std::unique_ptr<ClockTimer> m_elapsedTimer;
    std::shared_ptr<RecognizerSession> m_session;
    bool m_inputOpen = false;
    TaskHandle m_recognizerTask;
    bool m_audioRunning = false;
    std::optional<AudioFormat> m_analyzerFormat;
    std::optional<AudioFormat> m_cachedAudioFormat;
    std::shared_ptr<AudioAccumulator> m_accumulator;
    std::optional<double> m_startTime;
    QString m_accumulatedText;
    QString m_latestRecognizedText;
    QString m_recognizerFailure;
    QString m_heardText;
    bool m_audioForGemini = false;
    // Level updates posted by the audio thread carry the dictation they belong to.
    std::atomic<quint64> m_generation{0};

    // Silence detector state.
    std::unique_ptr<ClockTimer> m_silenceTimer;
    std::optional<SilenceDetector> m_silenceDetector;
};

} // namespace vel
