#pragma once

#include "recording/ModelCatalog.h"
#include "audio/ModelRecognizer.h"

#include <QObject>

#include <memory>
#include <vector>

namespace vel {

class Logger;

// The recogniser of the model chosen in the card, among one recogniser per model of the
// catalogue. A chosen model that is missing or does not load gives way to the first installed
// one, and fallbackNotice() says which and why: a dictation never falls back silently to nothing.
class ChosenRecognizer final : public QObject, public SpeechRecognizer {
    Q_OBJECT
public:
    struct Entry {
        CatalogModel model;
        std::unique_ptr<ModelRecognizer> recognizer; // none without the engine's library
        QString unavailable;                         // why there is none
    };
    ChosenRecognizer(Logger& log, std::vector<Entry> entries, const QString& chosenId, QObject* parent = nullptr);

    // The model of the next check (modelStatus); the one in use serves until then. A model held
    // back is chosen again by this: it is released.
    void choose(const QString& id);
    // The model is not loaded until chosen again (its engine process ended on it), for this reason.
    void holdBack(const QString& id, const QString& reason);
    // Chosen again: the model held back is loaded at the next check.
    void release(const QString& id);
    const Entry& chosen() const { return m_entries[m_chosen]; }
    // The recogniser dictations use: the chosen one, or the one standing in for it.
    ModelRecognizer* active() const { return m_entries[m_active].recognizer.get(); }
    const std::vector<Entry>& entries() const { return m_entries; }
    QString fallbackNotice() const override { return m_fallback; }

    Task<QStringList> supportedLocales() override;
    // The chosen model's status; when it is not installed or does not load, and another model
    // is, that one is loaded and used, and the status is Installed.
    Task<ModelStatus> modelStatus(QString locale) override;
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString locale) override;
    Task<std::optional<AudioFormat>> bestAudioFormat(QString locale) override;
    bool isAvailable() const override { return active() && active()->isAvailable(); }
    std::shared_ptr<RecognizerSession> makeSession(const QString& locale, const QStringList& contextualStrings,
                                                   const AudioFormat& format) override;
    bool isLoading() const override;
    QString loadFailure() const override;
    Task<void> untilLoaded() override;

signals:
    void fallbackChanged();
    // The engine process ended on this model: it is held back, and another stands in.
    void modelCrashed(const QString& id, const QString& reason);
    // The model held back was chosen again.
    void modelReleased(const QString& id);

private:
    void use(size_t index, const QString& fallback);
    Task<void> reconsider();

    Logger& m_log;
    std::vector<Entry> m_entries;
    size_t m_chosen = 0;
    size_t m_active = 0;
    QString m_fallback;
};

} // namespace vel
