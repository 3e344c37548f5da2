#include "audio/ModelRecognizer.h"

#include "audio/ModelInstaller.h"
#include "common/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace vel {

QString engineName(RecognitionEngine engine)
{
    switch (engine) {
    case RecognitionEngine::Vosk: return QStringLiteral("vosk");
    case RecognitionEngine::SherpaOnnxNemoCtc: return QStringLiteral("nemo-ctc");
    case RecognitionEngine::SherpaOnnxTransducer: return QStringLiteral("transducer");
    }
    return {};
}

ModelRecognizer::ModelRecognizer(Logger& log, RecognitionEngine engine, EngineLaunch launch, ModelLocation location,
                                 QNetworkAccessManager& network, int threads, QObject* parent)
    : QObject(parent), m_log(log), m_engineKind(engine), m_engineName(engineName(engine)), m_launch(std::move(launch)),
      m_threads(threads), m_location(std::move(location)), m_network(network)
{
    adopt(makeEngine());
}

ModelRecognizer::~ModelRecognizer() = default;

std::unique_ptr<EngineProcess> ModelRecognizer::makeEngine()
{
    return std::make_unique<EngineProcess>(m_log, m_launch, m_engineName);
}

void ModelRecognizer::adopt(std::unique_ptr<EngineProcess> engine)
{
    m_engine = std::move(engine);
    connect(m_engine.get(), &EngineProcess::ended, this, [this](const QString& reason, bool byTheModel) {
        m_loadFailure = reason;
        emit engineEnded(reason, byTheModel);
        emit loadEnded();
    });
}

QString ModelRecognizer::logTag() const
{
    return m_engineKind == RecognitionEngine::Vosk ? QStringLiteral("Vosk") : QStringLiteral("sherpa-onnx");
}

QString ModelRecognizer::libraryFailure() const { return m_launch.unavailability(m_engineName); }

void ModelRecognizer::holdBack(const QString& reason)
{
    m_heldBack = reason;
    m_loadFailure = reason;
    unloadModel();
}

void ModelRecognizer::unloadModel() { m_engine->unload(); }

Task<QString> ModelRecognizer::checkFolder(QString directory)
{
    QPointer<ModelRecognizer> self(this);
    std::unique_ptr<EngineProcess> probe = makeEngine();
    const QString failure = co_await probe->load(directory, m_threads);
    if (self && failure.isEmpty())
        m_checked = std::move(probe);
    co_return failure;
}

Task<std::optional<AudioFormat>> ModelRecognizer::bestAudioFormat(QString)
{
    if (!isAvailable())
        co_return std::nullopt;
    co_return AudioFormat::int16Mono16k();
}

std::shared_ptr<RecognizerSession> ModelRecognizer::makeSession(const QString&, const QStringList& contextualStrings,
                                                                const AudioFormat&)
{
    return m_engine->makeSession(contextualStrings);
}

Task<QString> ModelRecognizer::loadModel(QString directory)
{
    // One load at a time: a dictation and the card asking together share it, and another
    // folder's load waits for the one under way.
    QPointer<ModelRecognizer> self(this);
    if (!m_loadWaiters.empty()) {
        const QString loading = m_loadingDirectory;
        Completion<QString> waiter;
        m_loadWaiters.push_back(waiter);
        const QString failure = co_await waiter;
        if (!self || directory == loading)
            co_return failure;
    }
    Completion<QString> first;
    m_loadWaiters.push_back(first);
    m_loadingDirectory = directory;
    QString failure;
    if (!m_heldBack.isEmpty()) {
        failure = m_heldBack;
    } else if (m_checked && directory == m_location.directory) {
        // Loaded when it was checked, before it was moved into place.
        adopt(std::exchange(m_checked, nullptr));
    } else {
        failure = co_await m_engine->load(directory, m_threads);
    }
    if (!self)
        co_return failure;
    // The user may have chosen another folder meanwhile.
    if (failure.isEmpty() && directory != m_location.directory) {
        unloadModel();
        failure = QStringLiteral("別のモデルが選ばれました");
    }
    m_loadFailure = failure;
    if (failure.isEmpty())
        m_log.line(QStringLiteral("🗣️ [%1] model loaded from %2").arg(logTag(), directory));
    else
        m_log.line(QStringLiteral("⚠️ [%1] %2 does not load: %3").arg(logTag(), directory, failure));
    const std::vector<Completion<QString>> waiters = std::exchange(m_loadWaiters, {});
    for (const Completion<QString>& waiter : waiters)
        waiter.resolve(failure);
    emit loadEnded();
    co_return failure;
}

Task<void> ModelRecognizer::untilLoaded()
{
    if (m_loadWaiters.empty())
        co_return;
    Completion<QString> waiter;
    m_loadWaiters.push_back(waiter);
    co_await waiter;
}

Task<QStringList> ModelRecognizer::supportedLocales()
{
    // Without the engine's library there is no local recogniser at all.
    co_return hasLibrary() ? QStringList{QStringLiteral("ja_JP")} : QStringList{};
}

Task<ModelStatus> ModelRecognizer::modelStatus(QString)
{
    if (isAvailable())
        co_return ModelStatus::Installed;
    if (m_installation)
        co_return ModelStatus::Downloading;
    if (!QFileInfo(m_location.directory).isDir())
        co_return ModelStatus::Supported;
    if (!m_heldBack.isEmpty()) {
        m_loadFailure = m_heldBack;
        co_return ModelStatus::Unknown;
    }
    const QString failure = co_await loadModel(m_location.directory);
    co_return failure.isEmpty() ? ModelStatus::Installed : ModelStatus::Unknown;
}

Task<std::shared_ptr<ModelInstallation>> ModelRecognizer::installationRequest(QString)
{
    if (!hasLibrary() || isAvailable())
        co_return nullptr;
    if (!m_installation) {
        m_installation = makeInstaller();
        emit installStarted();
    }
    co_return m_installation;
}

std::shared_ptr<ModelInstaller> ModelRecognizer::makeInstaller()
{
    QPointer<ModelRecognizer> self(this);
    auto installer = std::make_shared<ModelInstaller>(m_log, m_network, m_location, [self](const QString& directory) {
        if (!self)
            return ModelInstaller::answer(QStringLiteral("終了しました"));
        return self->checkFolder(directory);
    });
    installer->onInstalled = [self](const QString& directory) -> Task<QString> {
        if (!self)
            return ModelInstaller::answer(QStringLiteral("終了しました"));
        return self->loadModel(directory);
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

std::shared_ptr<ModelInstaller> ModelRecognizer::archiveInstaller()
{
    // The model in use stays until the new one has loaded.
    if (!hasLibrary() || m_installation)
        return nullptr;
    m_installation = makeInstaller();
    return m_installation;
}

void ModelRecognizer::setLocation(ModelLocation location)
{
    if (location.directory == m_location.directory && location.url == m_location.url)
        return;
    unloadModel();
    m_location = std::move(location);
}

QString ModelRecognizer::removeModel()
{
    if (m_installation)
        return QStringLiteral("インストール中は削除できません");
    unloadModel();
    QFile::remove(ModelInstaller(m_log, m_network, m_location, {}).partialPath());
    if (QFileInfo::exists(m_location.directory) && !QDir(m_location.directory).removeRecursively())
        return QStringLiteral("%1 を削除できません").arg(m_location.directory);
    m_log.line(QStringLiteral("🗑️ [%1] model removed from %2").arg(logTag(), m_location.directory));
    return {};
}

} // namespace vel
