#pragma once

#include "audio/SherpaOnnxApi.h"
#include "audio/ModelRecognizer.h"


#include <QSet>

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
class SherpaOnnxRecognizer final : public ModelRecognizer {
    Q_OBJECT
public:
    static constexpr double kVolatileSeconds = 1.5;

    // The library is loaded when first needed: onnxruntime is large, and most users of a Vosk
    // model never need it.
    using LibraryLoader = std::function<std::shared_ptr<SherpaOnnxApi>(QString* why)>;
    // engine: a NeMo CTC model (model.onnx) or a transducer (encoder, decoder, joiner), whose
    // search the dictionary's words bias.
    SherpaOnnxRecognizer(Logger& log, LibraryLoader library, RecognitionEngine engine, ModelLocation location,
                         QNetworkAccessManager& network, int threads, QObject* parent = nullptr);
    ~SherpaOnnxRecognizer() override;

    Task<std::optional<AudioFormat>> bestAudioFormat(QString locale) override;
    bool isAvailable() const override { return m_recognizer != nullptr; }
    std::shared_ptr<RecognizerSession> makeSession(const QString& locale, const QStringList& contextualStrings,
                                                   const AudioFormat& format) override;
    void unloadModel() override { m_recognizer.reset(); }
    QString libraryFailure() const override;
    std::function<QString(const QString&)> folderCheck() const override;
    // The cores the engine may use, from the next load on.
    void setThreads(int threads) { m_threads = threads; }

protected:
    Task<QString> loadFolder(QString directory) override;

private:
    std::shared_ptr<SherpaOnnxApi> api() const;
    LibraryLoader m_loadLibrary;
    mutable std::shared_ptr<SherpaOnnxApi> m_api;
    mutable QString m_libraryFailure;
    RecognitionEngine m_engine;
    int m_threads;
    std::shared_ptr<const sherpa::Recognizer> m_recognizer;
    std::shared_ptr<const QSet<QString>> m_tokens; // a transducer's, for the words it can spell
    struct Worker {
        std::thread thread;
        std::shared_ptr<SherpaOnnxSessionState> state;
    };
    std::vector<Worker> m_workers; // one per dictation, joined once it has ended
    std::thread m_loader;
};

} // namespace vel
