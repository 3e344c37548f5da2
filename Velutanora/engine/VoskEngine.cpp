#include "engine/VoskEngine.h"

#include "common/AsyncQueue.h"
#include "engine/DynamicLibrary.h"
#include "recording/AudioConverter.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace vel {

namespace {

using DynamicLibrary::bind;

QString jsonField(const char* json, const char* field)
{
    if (!json)
        return {};
    return QJsonDocument::fromJson(QByteArray(json)).object().value(QLatin1String(field)).toString().trimmed();
}

// The parts a dictation's worker shares with the main thread.
struct SessionShared {
    AsyncQueue<RecognitionResult> results;
    Completion<Unit> done;
};

class VoskSession final : public RecognizerSession {
public:
    VoskSession(std::shared_ptr<VoskApi> api, std::shared_ptr<void> model, double sampleRate)
        : m_api(std::move(api)), m_model(std::move(model)), m_shared(std::make_shared<SessionShared>())
    {
        m_recognizer = m_api->recognizerNew(m_model.get(), static_cast<float>(sampleRate));
        m_worker = std::thread([this] { run(); });
    }
    ~VoskSession() override
    {
        {
            std::lock_guard guard(m_lock);
            m_abort = true;
            m_inputFinished = true;
        }
        m_wake.notify_all();
        m_worker.join();
        if (m_recognizer)
            m_api->recognizerFree(m_recognizer);
    }

    void appendAudio(const AudioBuffer& buffer) override
    {
        std::vector<short> samples(static_cast<size_t>(buffer.frameCount()));
        if (buffer.format.sampleType == SampleType::Int16 && buffer.format.channels == 1) {
            std::memcpy(samples.data(), buffer.data.constData(), samples.size() * 2);
        } else {
            std::vector<float> mono;
            mixToMono(buffer, mono);
            for (size_t i = 0; i < mono.size(); ++i)
                samples[i] = static_cast<short>(std::clamp(mono[i], -1.0f, 1.0f) * 32767.0f);
        }
        {
            std::lock_guard guard(m_lock);
            if (m_inputFinished)
                return;
            m_queue.push_back(std::move(samples));
        }
        m_wake.notify_one();
    }

    void finishInput() override
    {
        {
            std::lock_guard guard(m_lock);
            m_inputFinished = true;
        }
        m_wake.notify_one();
    }

    Task<std::optional<RecognitionResult>> nextResult() override { return m_shared->results.next(); }

    bool isBusy() const override
    {
        std::lock_guard guard(m_lock);
        return !m_queue.empty() || m_working;
    }

    Task<void> finalizeAndFinishThroughEndOfInput() override
    {
        finishInput();
        auto shared = m_shared;
        co_await shared->done;
    }

private:
    void post(RecognitionResult result)
    {
        std::weak_ptr<SessionShared> weak = m_shared;
        postToMainLoop([weak, result] {
            if (auto shared = weak.lock())
                shared->results.push(result);
        });
    }

    void run()
    {
        QString lastPartial;
        for (;;) {
            std::vector<short> samples;
            {
                std::unique_lock lock(m_lock);
                m_wake.wait(lock, [this] { return !m_queue.empty() || m_inputFinished; });
                if (m_abort)
                    break;
                if (m_queue.empty())
                    break; // input finished and everything recognised
                samples = std::move(m_queue.front());
                m_queue.pop_front();
                m_working = true;
            }
            struct Done {
                VoskSession* s;
                ~Done()
                {
                    std::lock_guard guard(s->m_lock);
                    s->m_working = false;
                }
            } done{this};
            if (!m_recognizer)
                continue;
            if (m_api->acceptWaveformS(m_recognizer, samples.data(), static_cast<int>(samples.size())) == 1) {
                const QString text = jsonField(m_api->result(m_recognizer), "text");
                lastPartial.clear();
                if (!text.isEmpty())
                    post(RecognitionResult{text, true});
            } else {
                const QString partial = jsonField(m_api->partialResult(m_recognizer), "partial");
                if (!partial.isEmpty() && partial != lastPartial) {
                    lastPartial = partial;
                    post(RecognitionResult{partial, false});
                }
            }
        }
        if (m_recognizer && !m_abort) {
            const QString text = jsonField(m_api->finalResult(m_recognizer), "text");
            if (!text.isEmpty())
                post(RecognitionResult{text, true});
        }
        std::weak_ptr<SessionShared> weak = m_shared;
        postToMainLoop([weak] {
            if (auto shared = weak.lock()) {
                shared->results.finish();
                shared->done.resolve(Unit{});
            }
        });
    }

    std::shared_ptr<VoskApi> m_api;
    // The session's share of the model: it is freed after the last worker using it was joined.
    std::shared_ptr<void> m_model;
    std::shared_ptr<SessionShared> m_shared;
    void* m_recognizer = nullptr;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_working = false;
    std::deque<std::vector<short>> m_queue;
    bool m_inputFinished = false;
    bool m_abort = false;
    std::thread m_worker;
};

} // namespace

std::shared_ptr<VoskApi> VoskApi::load(const QString& path, QString* why)
{
    QString loaded;
    void* handle = DynamicLibrary::open(path, why, &loaded);
    if (!handle)
        return nullptr;
    auto api = std::make_shared<VoskApi>();
    api->handle = handle;
    api->path = loaded;
    const bool ok = bind(handle, "vosk_set_log_level", api->setLogLevel) && bind(handle, "vosk_model_new", api->modelNew)
                    && bind(handle, "vosk_model_free", api->modelFree)
                    && bind(handle, "vosk_recognizer_new", api->recognizerNew)
                    && bind(handle, "vosk_recognizer_free", api->recognizerFree)
                    && bind(handle, "vosk_recognizer_accept_waveform_s", api->acceptWaveformS)
                    && bind(handle, "vosk_recognizer_result", api->result)
                    && bind(handle, "vosk_recognizer_partial_result", api->partialResult)
                    && bind(handle, "vosk_recognizer_final_result", api->finalResult);
    if (!ok) {
        if (why)
            *why = QStringLiteral("%1 lacks the functions of libvosk").arg(path);
        return nullptr;
    }
    api->setLogLevel(-1);
    return api;
}

VoskApi::~VoskApi()
{
    if (handle)
        dlclose(handle);
}

QString VoskEngine::load(const QString& directory, int)
{
    m_model.reset();
    void* model = m_api->modelNew(QFile::encodeName(directory).constData());
    if (!model)
        return QStringLiteral("libvosk が読み込めません");
    auto api = m_api;
    m_model = std::shared_ptr<void>(model, [api](void* m) { api->modelFree(m); });
    return {};
}

std::shared_ptr<RecognizerSession> VoskEngine::makeSession(const QStringList&)
{
    if (!m_model)
        return nullptr;
    return std::make_shared<VoskSession>(m_api, m_model, 16000.0);
}

} // namespace vel
