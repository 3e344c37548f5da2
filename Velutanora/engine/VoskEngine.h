#pragma once

#include "engine/Engine.h"

#include <memory>

namespace vel {

// The few C functions of libvosk the engine calls, loaded with dlopen (no header ships).
struct VoskApi {
    void* handle = nullptr;
    QString path; // the file the dynamic linker actually loaded
    void (*setLogLevel)(int) = nullptr;
    void* (*modelNew)(const char*) = nullptr;
    void (*modelFree)(void*) = nullptr;
    void* (*recognizerNew)(void*, float) = nullptr;
    void (*recognizerFree)(void*) = nullptr;
    int (*acceptWaveformS)(void*, const short*, int) = nullptr;
    const char* (*result)(void*) = nullptr;
    const char* (*partialResult)(void*) = nullptr;
    const char* (*finalResult)(void*) = nullptr;

    // Loads the library; on failure returns none and says why.
    static std::shared_ptr<VoskApi> load(const QString& path, QString* why = nullptr);
    ~VoskApi();
};

// The Japanese recogniser on libvosk. Partial results are the volatile results and utterance
// results the final ones. Recognition runs on a worker thread per dictation.
class VoskEngine final : public Engine {
public:
    explicit VoskEngine(std::shared_ptr<VoskApi> api) : m_api(std::move(api)) {}
    QString load(const QString& directory, int threads) override;
    void unload() override { m_model.reset(); }
    std::shared_ptr<RecognizerSession> makeSession(const QStringList& words) override;

private:
    std::shared_ptr<VoskApi> m_api;
    // Shared with the sessions, whose workers may outlive the model's replacement.
    std::shared_ptr<void> m_model;
};

} // namespace vel
