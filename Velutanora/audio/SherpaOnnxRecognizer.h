#pragma once

#include "audio/SherpaOnnxApi.h"
#include "recording/SpeechRecognizer.h"

#include <QObject>
#include <QString>

#include <memory>
#include <thread>
#include <vector>

namespace vel {

class Logger;
struct SherpaOnnxSessionState;

// The on-device recogniser on sherpa-onnx with an offline NeMo CTC model: a folder holding
// model.int8.onnx (or model.onnx) and tokens.txt. An offline model hears a whole utterance: the
// pauses split the recording into utterances, each decoded once for its final text; while the user
// speaks, the utterance under way is decoded again at most every kVolatileSeconds for the volatile
// text. All of it runs on the session's worker thread, and a long dictation costs linear time.
class SherpaOnnxRecognizer final : public QObject, public SpeechRecognizer {
    Q_OBJECT
public:
    static constexpr double kVolatileSeconds = 1.5;

    SherpaOnnxRecognizer(Logger& log, std::shared_ptr<SherpaOnnxApi> api, QString modelDirectory, int threads = 2,
                         QObject* parent = nullptr);
    ~SherpaOnnxRecognizer() override;

    Task<QStringList> supportedLocales() override;
    Task<ModelStatus> modelStatus(QString locale) override;
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString) override { co_return nullptr; }
    Task<std::optional<AudioFormat>> bestAudioFormat(QString locale) override;
    bool isAvailable() const override { return m_recognizer != nullptr; }
    std::shared_ptr<RecognizerSession> makeSession(const QString& locale, const QStringList& contextualStrings,
                                                   const AudioFormat& format) override;

    // Loads the model folder off the main thread; empty once it is loaded, otherwise why not.
    Task<QString> loadModel(QString directory);
    // Why the model folder could not be loaded, in words for the status line (empty when it was).
    QString loadFailure() const { return m_loadFailure; }

private:
    Logger& m_log;
    std::shared_ptr<SherpaOnnxApi> m_api;
    QString m_directory;
    int m_threads;
    std::shared_ptr<const sherpa::Recognizer> m_recognizer;
    QString m_loadFailure;
    struct Worker {
        std::thread thread;
        std::shared_ptr<SherpaOnnxSessionState> state;
    };
    std::vector<Worker> m_workers; // one per dictation, joined once it has ended
    std::thread m_loader;
};

} // namespace vel
