#pragma once

#include "common/Task.h"
#include "recording/AudioFormat.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vel {

enum class ModelStatus { Unsupported, Supported, Downloading, Installed, Unknown };

struct RecognitionResult {
    QString text;
    bool isFinal = false;
};

// One dictation's recogniser: audio in from any thread, results out on the main thread.
class RecognizerSession {
public:
    virtual ~RecognizerSession() = default;
    // Thread-safe; never blocks (buffers queue up if recognition is slower than real time).
    virtual void appendAudio(const AudioBuffer& buffer) = 0;
    // The end of the input: no more audio follows (main thread).
    virtual void finishInput() = 0;
    // The next result; none once the sequence has ended. Throws if it ended with an error.
    virtual Task<std::optional<RecognitionResult>> nextResult() = 0;
    // Returns once all input has been recognised and the result sequence has ended.
    virtual Task<void> finalizeAndFinishThroughEndOfInput() = 0;
    // Whether audio given to it is still being recognised (simulated time waits for it).
    virtual bool isBusy() const { return false; }
};

// A pending model download.
class ModelInstallation {
public:
    virtual ~ModelInstallation() = default;
    virtual Task<void> downloadAndInstall() = 0;
    // Percent of the download done, while it runs (main thread).
    std::function<void(int percent)> onProgress;
};

// The on-device recogniser.
class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;
    virtual Task<QStringList> supportedLocales() = 0;
    virtual Task<ModelStatus> modelStatus(QString locale) = 0;
    // None when there is nothing to install.
    virtual Task<std::shared_ptr<ModelInstallation>> installationRequest(QString locale) = 0;
    virtual Task<std::optional<AudioFormat>> bestAudioFormat(QString locale) = 0;
    // Whether a model is loaded and sessions can be made now.
    virtual bool isAvailable() const = 0;
    virtual std::shared_ptr<RecognizerSession> makeSession(const QString& locale, const QStringList& contextualStrings,
                                                           const AudioFormat& format) = 0;
    // Why the model did not load, when it did not (empty otherwise).
    virtual QString loadFailure() const { return {}; }
    // Which model stands in for the one chosen, and why (empty while the chosen one is used).
    virtual QString fallbackNotice() const { return {}; }
    // Whether a model is being loaded; a dictation waits for it (untilLoaded) rather than start without.
    virtual bool isLoading() const { return false; }
    virtual Task<void> untilLoaded() { co_return; }
};

// A recogniser that is never available: dictations that send their audio to Gemini still run.
class NoSpeechRecognizer final : public SpeechRecognizer {
public:
    Task<QStringList> supportedLocales() override { co_return QStringList{QStringLiteral("ja_JP")}; }
    Task<ModelStatus> modelStatus(QString) override { co_return ModelStatus::Unsupported; }
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString) override { co_return nullptr; }
    Task<std::optional<AudioFormat>> bestAudioFormat(QString) override { co_return std::nullopt; }
    bool isAvailable() const override { return false; }
    std::shared_ptr<RecognizerSession> makeSession(const QString&, const QStringList&, const AudioFormat&) override
    {
        return nullptr;
    }
};

} // namespace vel
