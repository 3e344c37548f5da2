#include "audio/ModelManager.h"

#include "common/Logger.h"
#include "audio/ModelInstaller.h"
#include "recording/SpeechManager.h"
#include "audio/VoskRecognizer.h"
#include "settings/AppSettings.h"

#include <QDirIterator>
#include <QFileInfo>

namespace vel {

namespace {

qint64 sizeOnDisk(const QString& directory)
{
    qint64 total = 0;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

} // namespace

ModelManager::ModelManager(Logger& log, AppSettings& settings, VoskRecognizer* recognizer, QObject* parent)
    : ModelControl(parent), m_log(log), m_settings(settings), m_recognizer(recognizer)
{
    if (!m_recognizer) {
        m_state.phase = ModelState::Phase::Unavailable;
        m_state.reason = QStringLiteral("音声認識ライブラリ (libvosk) が見つかりません");
        return;
    }
    connect(m_recognizer, &VoskRecognizer::installStarted, this, &ModelManager::refresh);
    connect(m_recognizer, &VoskRecognizer::installBytes, this, [this](qint64 received, qint64 total) {
        ModelState next = m_state;
        next.phase = total > 0 && received >= total ? ModelState::Phase::Installing : ModelState::Phase::Downloading;
        next.received = received;
        next.total = total;
        setState(next);
    });
    connect(m_recognizer, &VoskRecognizer::installEnded, this, [this](const QString& failure) {
        if (failure.isEmpty()) {
            refresh();
            return;
        }
        ModelState next;
        next.phase = ModelState::Phase::Failed;
        next.name = QFileInfo(m_recognizer->location().directory).fileName();
        next.reason = failure;
        setState(next);
    });
    connect(&m_settings, &AppSettings::recognizerModelChanged, this, &ModelManager::switchModel);
    switchModel();
}

void ModelManager::setState(const ModelState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void ModelManager::refresh()
{
    if (!m_recognizer)
        return;
    const QString directory = m_recognizer->location().directory;
    ModelState next;
    next.name = QFileInfo(directory).fileName();
    if (m_recognizer->installer()) {
        next.phase = ModelState::Phase::Downloading;
    } else if (QFileInfo(directory).isDir()) {
        next.phase = ModelState::Phase::Installed;
        next.directory = directory;
        next.bytesOnDisk = sizeOnDisk(directory);
    }
    setState(next);
}

void ModelManager::switchModel()
{
    if (!m_recognizer)
        return;
    const ModelLocation location = ModelLocation::forModel(m_settings.recognizerModel(), m_settings.recognizerModelDir(),
                                                           m_settings.recognizerModelUrl());
    if (location.directory != m_recognizer->location().directory) {
        if (m_recognizer->installer())
            m_recognizer->installer()->cancel();
        m_log.line(QStringLiteral("🗣️ [Vosk] model chosen: %1").arg(location.directory));
        m_recognizer->setLocation(location);
        spawn(this, load());
    }
    refresh();
}

// The chosen model, loaded now so that the next dictation uses it.
Task<void> ModelManager::load()
{
    if (m_recognizer && QFileInfo(m_recognizer->location().directory).isDir())
        co_await m_recognizer->modelStatus(SpeechManager::kLocale);
    refresh();
}

void ModelManager::download()
{
    if (!m_recognizer || m_recognizer->installer() || m_recognizer->isAvailable())
        return;
    ModelState next = m_state;
    next.phase = ModelState::Phase::Downloading;
    next.received = next.total = 0;
    next.reason.clear();
    setState(next);
    spawn(this, runDownload());
}

Task<void> ModelManager::runDownload()
{
    const std::shared_ptr<ModelInstallation> installation =
        co_await m_recognizer->installationRequest(SpeechManager::kLocale);
    if (!installation) {
        refresh();
        co_return;
    }
    try {
        co_await installation->downloadAndInstall();
    } catch (...) {
        // The state says why (installEnded).
    }
}

void ModelManager::cancel()
{
    if (m_recognizer && m_recognizer->installer())
        m_recognizer->installer()->cancel();
}

void ModelManager::installArchive(const QString& zipPath)
{
    if (!m_recognizer)
        return;
    std::shared_ptr<ModelInstaller> installer = m_recognizer->archiveInstaller();
    if (!installer)
        return;
    m_log.line(QStringLiteral("📦 [Vosk] installing the archive %1").arg(zipPath));
    ModelState next = m_state;
    next.phase = ModelState::Phase::Installing;
    next.reason.clear();
    setState(next);
    spawn(runArchive(std::move(installer), zipPath));
}

Task<void> ModelManager::runArchive(std::shared_ptr<ModelInstaller> installer, QString zipPath)
{
    try {
        co_await installer->installArchive(zipPath);
    } catch (...) {
        // The state says why (installEnded).
    }
}

void ModelManager::remove()
{
    if (!m_recognizer || m_recognizer->installer())
        return;
    const QString failure = m_recognizer->removeModel();
    refresh();
    if (!failure.isEmpty()) {
        ModelState next = m_state;
        next.phase = ModelState::Phase::Failed;
        next.reason = failure;
        setState(next);
    }
}

} // namespace vel
