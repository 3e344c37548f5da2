#pragma once

#include "audio/EngineProcess.h"
#include "recording/ModelCatalog.h"
#include "recording/SpeechRecognizer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QNetworkAccessManager;

namespace vel {

class Logger;
class ModelInstaller;

// The on-device recogniser of one model folder, whatever its engine: where the model lives, its
// download or installation from an archive, loading it (once, however many ask) in an engine
// process of its own, and removing it. An engine process that ends on the model leaves this
// program running: the load or the dictation under way ends with the reason, and engineEnded says so.
class ModelRecognizer final : public QObject, public SpeechRecognizer {
    Q_OBJECT
public:
    ModelRecognizer(Logger& log, RecognitionEngine engine, EngineLaunch launch, ModelLocation location,
                    QNetworkAccessManager& network, int threads = 1, QObject* parent = nullptr);
    ~ModelRecognizer() override;

    Task<QStringList> supportedLocales() override;
    // Installed once the folder loads; Unknown when it is there but does not load (loadFailure says why).
    Task<ModelStatus> modelStatus(QString locale) override;
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString locale) override;
    Task<std::optional<AudioFormat>> bestAudioFormat(QString locale) override;
    bool isAvailable() const override { return m_engine->isLoaded(); }
    std::shared_ptr<RecognizerSession> makeSession(const QString& locale, const QStringList& contextualStrings,
                                                   const AudioFormat& format) override;
    bool isLoading() const override { return !m_loadWaiters.empty(); }
    Task<void> untilLoaded() override;

    // Loads the folder in the engine process (a second call while one runs waits for it): empty
    // once it is loaded, otherwise why not.
    Task<QString> loadModel(QString directory);
    // Drops the loaded model; sessions under way keep theirs.
    void unloadModel();
    QString loadFailure() const override { return m_loadFailure; }
    // Why the engine cannot run here (no engine process, no library; empty: it may).
    QString libraryFailure() const;
    bool hasLibrary() const { return libraryFailure().isEmpty(); }
    // Whether an unpacked folder loads, in an engine process of its own: empty when it does, else
    // why not. The process is kept for the folder once installed, which is not loaded twice.
    Task<QString> checkFolder(QString directory);
    // The cores the engine may use, from the next load on.
    void setThreads(int threads) { m_threads = threads; }
    // Not loaded until released: loadFailure gives the reason (its engine ended on it before).
    void holdBack(const QString& reason);
    void release() { m_heldBack.clear(); }
    bool isHeldBack() const { return !m_heldBack.isEmpty(); }

    RecognitionEngine engine() const { return m_engineKind; }
    const ModelLocation& location() const { return m_location; }
    // Another folder for the next dictation: the loaded model is dropped.
    void setLocation(ModelLocation location);
    // The installation under way (a download or an archive), if any.
    std::shared_ptr<ModelInstaller> installer() const { return m_installation; }
    // A new installation for an archive; none while one is under way.
    std::shared_ptr<ModelInstaller> archiveInstaller();
    // Unloads the model and deletes its folder and any kept download; the reason when it cannot.
    QString removeModel();
    // The engine process (for tests and benchmarks).
    EngineProcess& engineProcess() const { return *m_engine; }

signals:
    void installStarted();
    void installBytes(qint64 received, qint64 total);
    void installEnded(const QString& failure);
    // A load has ended: loaded, or loadFailure says why not.
    void loadEnded();
    // The engine process ended while it held this model or was loading it; byTheModel: not for
    // want of its library.
    void engineEnded(const QString& reason, bool byTheModel);

private:
    std::shared_ptr<ModelInstaller> makeInstaller();
    QString logTag() const;
    std::unique_ptr<EngineProcess> makeEngine();
    void adopt(std::unique_ptr<EngineProcess> engine);

    Logger& m_log;
    RecognitionEngine m_engineKind;
    QString m_engineName;
    EngineLaunch m_launch;
    int m_threads;
    std::unique_ptr<EngineProcess> m_engine;
    // A process that loaded a folder being installed, kept for it.
    std::unique_ptr<EngineProcess> m_checked;
    ModelLocation m_location;
    QNetworkAccessManager& m_network;
    std::shared_ptr<ModelInstaller> m_installation;
    QString m_loadFailure;
    QString m_heldBack;
    QString m_loadingDirectory;
    std::vector<Completion<QString>> m_loadWaiters;
};

// The name an engine process knows the engine by ("vosk", "nemo-ctc", "transducer").
QString engineName(RecognitionEngine engine);

} // namespace vel
