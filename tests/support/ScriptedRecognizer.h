#pragma once

#include "common/AsyncQueue.h"
#include "recording/SpeechRecognizer.h"

#include <QList>
#include <QMutex>

#include <memory>

namespace vel::test {

// A recogniser session whose results the test delivers; it records the audio it was fed.
class ScriptedSession final : public RecognizerSession {
public:
    QStringList contextualStrings;
    AudioFormat format;

    void appendAudio(const AudioBuffer& buffer) override
    {
        QMutexLocker lock(&m_mutex);
        ++m_buffers;
        m_frames += buffer.frameCount();
        m_audio += buffer.data;
    }
    void finishInput() override { m_inputFinished = true; }
    Task<std::optional<RecognitionResult>> nextResult() override { return m_results.next(); }
    Task<void> finalizeAndFinishThroughEndOfInput() override
    {
        ++m_finalizeCalls;
        if (m_finalizeError)
            throw *m_finalizeError;
        for (const RecognitionResult& r : m_atFinalize)
            m_results.push(r);
        m_results.finish();
        co_return;
    }

    // Test side.
    void deliver(const QString& text, bool isFinal) { m_results.push(RecognitionResult{text, isFinal}); }
    void endResults(std::exception_ptr error = nullptr) { m_results.finish(error); }
    void deliverAtFinalize(const QString& text, bool isFinal) { m_atFinalize.append(RecognitionResult{text, isFinal}); }
    void failFinalize(const Error& error) { m_finalizeError = std::make_shared<Error>(error); }

    int buffers() const
    {
        QMutexLocker lock(&m_mutex);
        return m_buffers;
    }
    qsizetype frames() const
    {
        QMutexLocker lock(&m_mutex);
        return m_frames;
    }
    QByteArray audio() const
    {
        QMutexLocker lock(&m_mutex);
        return m_audio;
    }
    bool inputFinished() const { return m_inputFinished; }
    int finalizeCalls() const { return m_finalizeCalls; }

private:
    mutable QMutex m_mutex;
    int m_buffers = 0;
    qsizetype m_frames = 0;
    QByteArray m_audio;
    bool m_inputFinished = false;
    int m_finalizeCalls = 0;
    AsyncQueue<RecognitionResult> m_results;
    QList<RecognitionResult> m_atFinalize;
    std::shared_ptr<Error> m_finalizeError;
};

class ScriptedInstallation final : public ModelInstallation {
public:
    std::shared_ptr<Error> failure;
    int calls = 0;
    int pauseAt = -1; // the download waits at this percentage until resumed
    Completion<Unit> resume;
    Task<void> downloadAndInstall() override
    {
        ++calls;
        for (int percent : {0, 50, 100}) {
            if (onProgress)
                onProgress(percent);
            if (percent == pauseAt)
                co_await resume;
        }
        if (failure)
            throw *failure;
        co_return;
    }
};

// A recogniser whose answers the test sets, and which records what it was asked.
class ScriptedRecognizer final : public SpeechRecognizer {
public:
    QStringList locales{QStringLiteral("en_US"), QStringLiteral("ja_JP")};
    ModelStatus model = ModelStatus::Installed;
    std::shared_ptr<ScriptedInstallation> installation = std::make_shared<ScriptedInstallation>();
    std::optional<AudioFormat> bestFormat = AudioFormat::int16Mono16k();
    bool available = true;

    int formatQueries = 0;
    int modelQueries = 0;
    QList<std::shared_ptr<ScriptedSession>> sessions;
    std::function<void(ScriptedSession&)> onSession; // scripts each new session

    Task<QStringList> supportedLocales() override { co_return locales; }
    Task<ModelStatus> modelStatus(QString) override
    {
        ++modelQueries;
        co_return model;
    }
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString) override { co_return installation; }
    Task<std::optional<AudioFormat>> bestAudioFormat(QString) override
    {
        ++formatQueries;
        co_return bestFormat;
    }
    bool isAvailable() const override { return available; }
    std::shared_ptr<RecognizerSession> makeSession(const QString&, const QStringList& contextualStrings,
                                                   const AudioFormat& format) override
    {
        auto session = std::make_shared<ScriptedSession>();
        session->contextualStrings = contextualStrings;
        session->format = format;
        sessions.append(session);
        if (onSession)
            onSession(*session);
        return session;
    }
    std::shared_ptr<ScriptedSession> lastSession() const { return sessions.isEmpty() ? nullptr : sessions.last(); }
};

} // namespace vel::test
