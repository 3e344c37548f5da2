#pragma once

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
// download or installation from an archive, loading it (once, however many ask) and removing it.
// An engine says how to load a folder, how to tell one of its models and how to recognise.
class ModelRecognizer : public QObject, public SpeechRecognizer {
    Q_OBJECT
public:
    ModelRecognizer(Logger& log, ModelLocation location, QNetworkAccessManager& network, QString engineName,
                    QObject* parent = nullptr);
    ~ModelRecognizer() override;

    Task<QStringList> supportedLocales() override;
    // Installed once the folder loads; Unknown when it is there but does not load (loadFailure says why).
    Task<ModelStatus> modelStatus(QString locale) override;
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString locale) override;
    bool isLoading() const override { return !m_loadWaiters.empty(); }
    Task<void> untilLoaded() override;

    // Loads the folder off the main thread (a second call while one runs waits for it): empty
    // once it is loaded, otherwise why not.
    Task<QString> loadModel(QString directory);
    // Drops the loaded model; sessions under way keep theirs.
    virtual void unloadModel() = 0;
    QString loadFailure() const override { return m_loadFailure; }
    // Why the engine's library is not there (empty: it is).
    virtual QString libraryFailure() const = 0;
    bool hasLibrary() const { return libraryFailure().isEmpty(); }
    // Why an unpacked folder is not a model of this engine (empty: it is); runs on any thread.
    virtual std::function<QString(const QString& directory)> folderCheck() const = 0;

    const ModelLocation& location() const { return m_location; }
    // Another folder for the next dictation: the loaded model is dropped.
    void setLocation(ModelLocation location);
    // The installation under way (a download or an archive), if any.
    std::shared_ptr<ModelInstaller> installer() const { return m_installation; }
    // A new installation for an archive; none while one is under way.
    std::shared_ptr<ModelInstaller> archiveInstaller();
    // Unloads the model and deletes its folder and any kept download; the reason when it cannot.
    QString removeModel();

signals:
    void installStarted();
    void installBytes(qint64 received, qint64 total);
    void installEnded(const QString& failure);
    // A load has ended: loaded, or loadFailure says why not.
    void loadEnded();

protected:
    // The engine's own load of a folder, off the main thread: empty once loaded, else why not.
    virtual Task<QString> loadFolder(QString directory) = 0;

    Logger& m_log;
    const QString m_engineName;

private:
    std::shared_ptr<ModelInstaller> makeInstaller();

    ModelLocation m_location;
    QNetworkAccessManager& m_network;
    std::shared_ptr<ModelInstaller> m_installation;
    QString m_loadFailure;
    QString m_loadingDirectory;
    std::vector<Completion<QString>> m_loadWaiters;
};

} // namespace vel
