#pragma once

#include "recording/SpeechRecognizer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace vel {
class ModelInstaller;
}

namespace vel {

class Logger;

// The few C functions of libvosk the program calls, loaded with dlopen (no header ships).
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

// Where the Japanese model lives and where it comes from.
struct ModelLocation {
    QString directory; // $XDG_DATA_HOME/velutanora/models/vosk-model-small-ja-0.22 unless set
    QString url;       // the official zip unless set
    QString sha256;    // the archive's SHA-256 in hex, where it is pinned; empty: not checked
    qint64 maxUnpackedBytes = 0; // what the model unpacks to at the most; 0: only the archive's size bounds it

    ModelLocation() = default;
    ModelLocation(QString directory, QString url, QString sha256 = {}, qint64 maxUnpackedBytes = 0)
        : directory(std::move(directory)), url(std::move(url)), sha256(std::move(sha256)), maxUnpackedBytes(maxUnpackedBytes)
    {
    }

    static QString defaultDirectory();
    static QString defaultUrl();
    // The small model ("small") or the large one ("large"), beside the small one and from the same
    // place; the overrides are the hidden settings (empty: the defaults).
    static ModelLocation forModel(const QString& model, const QString& directoryOverride, const QString& urlOverride);
    static inline const QString kLargeName = QStringLiteral("vosk-model-ja-0.22");
};

// The on-device Japanese recogniser on libvosk. Partial results are the volatile results and
// utterance results the final ones. Recognition runs on a worker thread per dictation.
class VoskRecognizer final : public QObject, public SpeechRecognizer {
    Q_OBJECT
public:
    VoskRecognizer(Logger& log, std::shared_ptr<VoskApi> api, ModelLocation location,
                   QNetworkAccessManager& network, QObject* parent = nullptr);
    ~VoskRecognizer() override;

    Task<QStringList> supportedLocales() override;
    Task<ModelStatus> modelStatus(QString locale) override;
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString locale) override;
    Task<std::optional<AudioFormat>> bestAudioFormat(QString locale) override;
    bool isAvailable() const override { return m_model != nullptr; }
    std::shared_ptr<RecognizerSession> makeSession(const QString& locale, const QStringList& contextualStrings,
                                                   const AudioFormat& format) override;

    // Loads the model directory off the main thread; true when libvosk accepts it.
    Task<bool> loadModel(QString directory);

    const ModelLocation& location() const { return m_location; }
    // Another model for the next dictation: the loaded one is dropped (running sessions keep theirs).
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

private:
    std::shared_ptr<ModelInstaller> makeInstaller();

    Logger& m_log;
    std::shared_ptr<VoskApi> m_api;
    ModelLocation m_location;
    QNetworkAccessManager& m_network;
    // Shared with the sessions, whose workers may outlive the recogniser.
    std::shared_ptr<void> m_model;
    std::shared_ptr<ModelInstaller> m_installation;
};

} // namespace vel
