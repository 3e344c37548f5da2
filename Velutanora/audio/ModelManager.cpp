#include "audio/ModelManager.h"

#include "common/Logger.h"
#include "audio/ModelInstaller.h"
#include "recording/SpeechManager.h"
#include "audio/ChosenRecognizer.h"
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

ModelManager::ModelManager(Logger& log, AppSettings& settings, ChosenRecognizer& recognizers, QObject* parent)
    : ModelControl(parent), m_log(log), m_settings(settings), m_recognizers(recognizers)
{
    for (const ChosenRecognizer::Entry& entry : m_recognizers.entries()) {
        ModelRecognizer* recognizer = entry.recognizer.get();
        if (!recognizer)
            continue;
        // Only the chosen model's installation is the card's.
        connect(recognizer, &ModelRecognizer::installStarted, this, [this, recognizer] {
            if (recognizer == chosen())
                refresh();
        });
        connect(recognizer, &ModelRecognizer::loadEnded, this, [this, recognizer] {
            if (recognizer == chosen())
                refresh();
        });
        connect(recognizer, &ModelRecognizer::installBytes, this, [this, recognizer](qint64 received, qint64 total) {
            if (recognizer != chosen())
                return;
            ModelState next = m_state;
            next.phase = total > 0 && received >= total ? ModelState::Phase::Installing : ModelState::Phase::Downloading;
            next.received = received;
            next.total = total;
            setState(next);
        });
        connect(recognizer, &ModelRecognizer::installEnded, this, [this, recognizer](const QString& failure) {
            if (recognizer != chosen())
                return;
            refresh();
            if (failure.isEmpty())
                return;
            ModelState next = m_state;
            next.phase = ModelState::Phase::Failed;
            next.reason = failure;
            setState(next);
        });
    }
    connect(&m_recognizers, &ChosenRecognizer::fallbackChanged, this, &ModelManager::refresh);
    connect(&m_settings, &AppSettings::recognizerModelChanged, this, &ModelManager::switchModel);
    refresh();
}

ModelRecognizer* ModelManager::chosen() const { return m_recognizers.chosen().recognizer.get(); }

void ModelManager::setState(const ModelState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void ModelManager::refresh()
{
    ModelState next;
    next.name = m_recognizers.chosen().model.folder;
    next.fallback = m_recognizers.fallbackNotice();
    for (const ChosenRecognizer::Entry& entry : m_recognizers.entries())
        if (entry.recognizer && QFileInfo(entry.recognizer->location().directory).isDir())
            next.installedModels << entry.model.id;
    ModelRecognizer* recognizer = chosen();
    if (!recognizer || !recognizer->hasLibrary()) {
        next.phase = ModelState::Phase::Unavailable;
        next.reason = recognizer ? recognizer->libraryFailure() : m_recognizers.chosen().unavailable;
    } else if (recognizer->installer()) {
        next.phase = ModelState::Phase::Downloading;
    } else if (const QString directory = recognizer->location().directory; QFileInfo(directory).isDir()) {
        // A folder that does not load is no installed model: the card says why.
        const bool broken = !recognizer->isAvailable() && !recognizer->isLoading() && !recognizer->loadFailure().isEmpty();
        next.phase = broken ? ModelState::Phase::Failed : ModelState::Phase::Installed;
        next.reason = broken ? recognizer->loadFailure() : QString();
        next.directory = directory;
        next.bytesOnDisk = sizeOnDisk(directory);
    }
    setState(next);
}

void ModelManager::switchModel()
{
    if (catalogModel(m_settings.recognizerModel()).id == m_recognizers.chosen().model.id)
        return;
    if (chosen() && chosen()->installer())
        chosen()->installer()->cancel();
    m_recognizers.choose(m_settings.recognizerModel());
    m_log.line(QStringLiteral("🗣️ [Model] chosen: %1").arg(m_recognizers.chosen().model.id));
    refresh();
    spawn(this, load());
}

// The chosen model, loaded now so that the next dictation uses it (or the one standing in for it).
Task<void> ModelManager::load()
{
    co_await m_recognizers.modelStatus(SpeechManager::kLocale);
    refresh();
}

void ModelManager::download()
{
    ModelRecognizer* recognizer = chosen();
    // A model held back (its engine ended on it) is tried again, not fetched again.
    if (recognizer && recognizer->isHeldBack()) {
        m_recognizers.release(m_recognizers.chosen().model.id);
        spawn(this, load());
        return;
    }
    if (!recognizer || recognizer->installer() || recognizer->isAvailable())
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
    const std::shared_ptr<ModelInstallation> installation = co_await chosen()->installationRequest(SpeechManager::kLocale);
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
    if (chosen() && chosen()->installer())
        chosen()->installer()->cancel();
}

void ModelManager::installArchive(const QString& zipPath)
{
    std::shared_ptr<ModelInstaller> installer = chosen() ? chosen()->archiveInstaller() : nullptr;
    if (!installer)
        return;
    m_log.line(QStringLiteral("📦 [Model] installing the archive %1").arg(zipPath));
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
    if (!chosen() || chosen()->installer())
        return;
    const QString failure = chosen()->removeModel();
    refresh();
    if (!failure.isEmpty()) {
        ModelState next = m_state;
        next.phase = ModelState::Phase::Failed;
        next.reason = failure;
        setState(next);
    }
    // Another installed model stands in for the removed one.
    spawn(this, load());
}

} // namespace vel
