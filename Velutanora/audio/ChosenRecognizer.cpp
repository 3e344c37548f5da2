#include "audio/ChosenRecognizer.h"

#include "common/Logger.h"

#include <QFileInfo>
#include <QPointer>

namespace vel {

ChosenRecognizer::ChosenRecognizer(Logger& log, std::vector<Entry> entries, const QString& chosenId, QObject* parent)
    : QObject(parent), m_log(log), m_entries(std::move(entries))
{
    choose(chosenId);
    m_active = m_chosen;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        ModelRecognizer* recognizer = m_entries[i].recognizer.get();
        if (!recognizer)
            continue;
        // The chosen model, once installed, takes over from the one standing in for it.
        connect(recognizer, &ModelRecognizer::installEnded, this, [this, i](const QString& failure) {
            if (failure.isEmpty() && i == m_chosen)
                use(i, {});
        });
        // An engine that ended on its model: the model is held back and the next installed one
        // stands in, for the dictations to come (the one under way keeps its audio).
        connect(recognizer, &ModelRecognizer::engineEnded, this, [this, i](const QString& reason, bool byTheModel) {
            if (!byTheModel)
                return;
            holdBack(m_entries[i].model.id, reason);
            emit modelCrashed(m_entries[i].model.id, reason);
            if (i == m_active || i == m_chosen)
                spawn(this, reconsider());
        });
    }
}

void ChosenRecognizer::choose(const QString& id)
{
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].model.id == catalogModel(id).id)
            m_chosen = i;
    release(chosen().model.id);
}

void ChosenRecognizer::holdBack(const QString& id, const QString& reason)
{
    for (Entry& entry : m_entries)
        if (entry.model.id == id && entry.recognizer)
            entry.recognizer->holdBack(reason);
}

void ChosenRecognizer::release(const QString& id)
{
    for (Entry& entry : m_entries) {
        if (entry.model.id == id && entry.recognizer && entry.recognizer->isHeldBack()) {
            entry.recognizer->release();
            emit modelReleased(id);
        }
    }
}

Task<void> ChosenRecognizer::reconsider()
{
    co_await modelStatus(QStringLiteral("ja_JP"));
}

void ChosenRecognizer::use(size_t index, const QString& fallback)
{
    m_active = index;
    // Only the model in use holds memory (the chosen one may still be loading: it keeps its own).
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (i != index && i != m_chosen && m_entries[i].recognizer)
            m_entries[i].recognizer->unloadModel();
    if (fallback == m_fallback)
        return;
    m_fallback = fallback;
    if (!fallback.isEmpty())
        m_log.line(QStringLiteral("⚠️ [Model] %1 is not usable; %2 stands in").arg(chosen().model.id, m_entries[index].model.id));
    emit fallbackChanged();
}

Task<QStringList> ChosenRecognizer::supportedLocales()
{
    // In the catalogue's order: the Vosk models come first, and libsherpa-onnx is loaded only
    // when libvosk is missing.
    for (const Entry& entry : m_entries)
        if (entry.recognizer && entry.recognizer->hasLibrary())
            co_return QStringList{QStringLiteral("ja_JP")};
    co_return QStringList{};
}

Task<ModelStatus> ChosenRecognizer::modelStatus(QString locale)
{
    QPointer<ChosenRecognizer> self(this);
    const size_t chosenIndex = m_chosen;
    ModelRecognizer* chosenRecognizer = m_entries[chosenIndex].recognizer.get();
    ModelStatus status = ModelStatus::Unsupported;
    // Without its engine's library the chosen model can neither load nor be downloaded.
    if (chosenRecognizer && chosenRecognizer->hasLibrary()) {
        status = co_await chosenRecognizer->modelStatus(locale);
        if (!self || chosenIndex != m_chosen)
            co_return status; // another choice meanwhile: its own check follows
        if (status == ModelStatus::Installed) {
            use(chosenIndex, {});
            co_return status;
        }
    }
    const QString why = status == ModelStatus::Unsupported   ? loadFailure()
                        : status == ModelStatus::Supported   ? QStringLiteral("未インストール")
                        : status == ModelStatus::Downloading ? QStringLiteral("ダウンロード中")
                                                             : chosenRecognizer->loadFailure();
    for (size_t i = 0; i < m_entries.size(); ++i) {
        ModelRecognizer* other = m_entries[i].recognizer.get();
        if (i == chosenIndex || !other || !QFileInfo(other->location().directory).isDir())
            continue;
        const ModelStatus otherStatus = co_await other->modelStatus(locale);
        if (!self || chosenIndex != m_chosen)
            co_return otherStatus;
        if (otherStatus == ModelStatus::Installed) {
            use(i, QStringLiteral("⚠️ 選んだモデル「%1」は使えないため（%2）、インストール済みの「%3」で認識しています")
                       .arg(m_entries[chosenIndex].model.label, why, m_entries[i].model.label));
            co_return ModelStatus::Installed;
        }
    }
    use(chosenIndex, {});
    co_return status;
}

Task<std::shared_ptr<ModelInstallation>> ChosenRecognizer::installationRequest(QString locale)
{
    if (!chosen().recognizer)
        co_return nullptr;
    std::shared_ptr<ModelInstallation> installation = co_await chosen().recognizer->installationRequest(locale);
    co_return installation;
}

Task<std::optional<AudioFormat>> ChosenRecognizer::bestAudioFormat(QString locale)
{
    if (!active())
        co_return std::nullopt;
    std::optional<AudioFormat> format = co_await active()->bestAudioFormat(locale);
    co_return format;
}

std::shared_ptr<RecognizerSession> ChosenRecognizer::makeSession(const QString& locale, const QStringList& contextualStrings,
                                                                 const AudioFormat& format)
{
    return active() ? active()->makeSession(locale, contextualStrings, format) : nullptr;
}

QString ChosenRecognizer::loadFailure() const
{
    const ModelRecognizer* recognizer = chosen().recognizer.get();
    if (!recognizer)
        return chosen().unavailable;
    return recognizer->hasLibrary() ? recognizer->loadFailure() : recognizer->libraryFailure();
}

bool ChosenRecognizer::isLoading() const
{
    return (active() && active()->isLoading()) || (chosen().recognizer && chosen().recognizer->isLoading());
}

Task<void> ChosenRecognizer::untilLoaded()
{
    QPointer<ChosenRecognizer> self(this);
    while (self && isLoading()) {
        ModelRecognizer* loading = active() && active()->isLoading() ? active() : chosen().recognizer.get();
        co_await loading->untilLoaded();
    }
}

} // namespace vel
