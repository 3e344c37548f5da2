#include "audio/VoskRecognizer.h"

#include "common/AsyncQueue.h"
#include "common/Logger.h"
#include "audio/DynamicLibrary.h"
#include "audio/ModelInstaller.h"
#include "recording/AudioConverter.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QUrl>

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

QString ModelLocation::defaultDirectory()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/velutanora/models/vosk-model-small-ja-0.22");
}

QString ModelLocation::defaultUrl()
{
    return QStringLiteral("https://alphacephei.com/vosk/models/vosk-model-small-ja-0.22.zip");
}

ModelLocation ModelLocation::forModel(const QString& model, const QString& directoryOverride, const QString& urlOverride)
{
    // What each model unpacks to, with room to spare: an archive past it is not this model.
    constexpr qint64 kSmallUnpacked = 300'000'000;
    constexpr qint64 kLargeUnpacked = 4'000'000'000;
    ModelLocation small{directoryOverride.isEmpty() ? defaultDirectory() : directoryOverride,
                        urlOverride.isEmpty() ? defaultUrl() : urlOverride, QString(), kSmallUnpacked};
    if (model != QLatin1String("large"))
        return small;
    QUrl url(small.url);
    const QString path = url.path();
    url.setPath(path.left(path.lastIndexOf(QLatin1Char('/')) + 1) + kLargeName + QStringLiteral(".zip"));
    return {QFileInfo(small.directory).absolutePath() + QLatin1Char('/') + kLargeName, url.toString(), QString(),
            kLargeUnpacked};
}

VoskRecognizer::VoskRecognizer(Logger& log, std::shared_ptr<VoskApi> api, ModelLocation location,
                               QNetworkAccessManager& network, QObject* parent)
    : QObject(parent), m_log(log), m_api(std::move(api)), m_location(std::move(location)), m_network(network)
{
}

VoskRecognizer::~VoskRecognizer() = default;

Task<bool> VoskRecognizer::loadModel(QString directory)
{
    if (!m_api)
        co_return false;
    Completion<void*> loaded;
    auto api = m_api;
    std::thread([api, directory, loaded] {
        void* model = api->modelNew(QFile::encodeName(directory).constData());
        postToMainLoop([loaded, model] { loaded.resolve(model); });
    }).detach();
    void* model = co_await loaded;
    if (!model)
        co_return false;
    // The user may have chosen another model meanwhile.
    if (directory != m_location.directory) {
        api->modelFree(model);
        co_return false;
    }
    m_model = std::shared_ptr<void>(model, [api](void* m) { api->modelFree(m); });
    m_log.line(QStringLiteral("🗣️ [Vosk] model loaded from %1").arg(directory));
    co_return true;
}

Task<QStringList> VoskRecognizer::supportedLocales()
{
    // Without libvosk there is no local recogniser at all.
    co_return m_api ? QStringList{QStringLiteral("ja_JP")} : QStringList{};
}

Task<ModelStatus> VoskRecognizer::modelStatus(QString)
{
    if (m_model)
        co_return ModelStatus::Installed;
    if (m_installation)
        co_return ModelStatus::Downloading;
    const bool present = QFileInfo(m_location.directory).isDir();
    if (present) {
        const bool loaded = co_await loadModel(m_location.directory);
        if (loaded)
            co_return ModelStatus::Installed;
        m_log.line(QStringLiteral("⚠️ [Vosk] %1 is not a model libvosk can load").arg(m_location.directory));
        co_return ModelStatus::Unknown;
    }
    co_return ModelStatus::Supported;
}

Task<std::shared_ptr<ModelInstallation>> VoskRecognizer::installationRequest(QString)
{
    if (!m_api || m_model)
        co_return nullptr;
    if (!m_installation) {
        m_installation = makeInstaller();
        emit installStarted();
    }
    co_return m_installation;
}

std::shared_ptr<ModelInstaller> VoskRecognizer::makeInstaller()
{
    QPointer<VoskRecognizer> self(this);
    auto installer = std::make_shared<ModelInstaller>(m_log, m_network, m_location, m_api);
    installer->onInstalled = [self](const QString& directory) {
        return self ? self->loadModel(directory) : ModelInstaller::answer(false);
    };
    installer->onBytes = [self](qint64 received, qint64 total) {
        if (self)
            emit self->installBytes(received, total);
    };
    installer->onFinished = [self](const QString& failure) {
        if (!self)
            return;
        self->m_installation.reset();
        emit self->installEnded(failure);
    };
    return installer;
}

std::shared_ptr<ModelInstaller> VoskRecognizer::archiveInstaller()
{
    if (!m_api || m_installation)
        return nullptr;
    m_model.reset();
    m_installation = makeInstaller();
    return m_installation;
}

void VoskRecognizer::setLocation(ModelLocation location)
{
    if (location.directory == m_location.directory && location.url == m_location.url)
        return;
    m_model.reset();
    m_location = std::move(location);
}

QString VoskRecognizer::removeModel()
{
    if (m_installation)
        return QStringLiteral("インストール中は削除できません");
    m_model.reset();
    QFile::remove(ModelInstaller(m_log, m_network, m_location, nullptr).partialPath());
    if (QFileInfo::exists(m_location.directory) && !QDir(m_location.directory).removeRecursively())
        return QStringLiteral("%1 を削除できません").arg(m_location.directory);
    m_log.line(QStringLiteral("🗑️ [Vosk] model removed from %1").arg(m_location.directory));
    return {};
}

Task<std::optional<AudioFormat>> VoskRecognizer::bestAudioFormat(QString)
{
    if (!m_model)
        co_return std::nullopt;
    co_return AudioFormat::int16Mono16k();
}

std::shared_ptr<RecognizerSession> VoskRecognizer::makeSession(const QString&, const QStringList&,
                                                               const AudioFormat& format)
{
    if (!m_model)
        return nullptr;
    return std::make_shared<VoskSession>(m_api, m_model, format.sampleRate);
}

} // namespace vel
