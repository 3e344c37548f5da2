#pragma once

#include "engine/Engine.h"
#include "engine/SherpaOnnxApi.h"

#include <QSet>

#include <memory>
#include <thread>
#include <vector>

namespace vel {

struct SherpaOnnxSessionState;

// The recogniser on sherpa-onnx with an offline model: a NeMo CTC model (model.int8.onnx or
// model.onnx, and tokens.txt) or a transducer (encoder, decoder, joiner, tokens.txt), whose beam
// search takes the dictionary's words as hotwords. An offline model hears a whole utterance: the
// pauses split the recording into utterances, each decoded once for its final text; while the user
// speaks, the utterance under way is decoded again at most every kVolatileSeconds for the volatile
// text. All of it runs on the session's worker thread, and a long dictation costs linear time.
class SherpaOnnxEngine final : public Engine {
public:
    static constexpr double kVolatileSeconds = 1.5;

    SherpaOnnxEngine(std::shared_ptr<SherpaOnnxApi> api, bool transducer) : m_api(std::move(api)), m_transducer(transducer) {}
    ~SherpaOnnxEngine() override;

    QString load(const QString& directory, int threads) override;
    void unload() override { m_recognizer.reset(); }
    std::shared_ptr<RecognizerSession> makeSession(const QStringList& words) override;

    // Why a folder is not a model of this kind that the library can take (empty: it may be); the
    // library itself would end the process on some of these.
    static QString folderFailure(bool transducer, const QString& directory);

private:
    std::shared_ptr<SherpaOnnxApi> m_api;
    bool m_transducer;
    std::shared_ptr<const sherpa::Recognizer> m_recognizer;
    std::shared_ptr<const QSet<QString>> m_tokens; // a transducer's, for the words it can spell
    struct Worker {
        std::thread thread;
        std::shared_ptr<SherpaOnnxSessionState> state;
    };
    std::vector<Worker> m_workers; // one per dictation, joined once it has ended
};

} // namespace vel
