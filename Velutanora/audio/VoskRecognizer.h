#pragma once

#include "audio/ModelRecognizer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;

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

// The on-device Japanese recogniser on libvosk. Partial results are the volatile results and
// utterance results the final ones. Recognition runs on a worker thread per dictation.
class VoskRecognizer final : public ModelRecognizer {
    Q_OBJECT
public:
    VoskRecognizer(Logger& log, std::shared_ptr<VoskApi> api, ModelLocation location,
                   QNetworkAccessManager& network, QObject* parent = nullptr);
    ~VoskRecognizer() override;

    Task<std::optional<AudioFormat>> bestAudioFormat(QString locale) override;
    bool isAvailable() const override { return m_model != nullptr; }
    std::shared_ptr<RecognizerSession> makeSession(const QString& locale, const QStringList& contextualStrings,
                                                   const AudioFormat& format) override;
    void unloadModel() override { m_model.reset(); }
    QString libraryFailure() const override
    {
        return m_api ? QString() : QStringLiteral("音声認識ライブラリ (libvosk) が見つかりません");
    }
    std::function<QString(const QString&)> folderCheck() const override { return folderCheck(m_api); }
    // Whether libvosk loads a folder as a model.
    static std::function<QString(const QString&)> folderCheck(std::shared_ptr<VoskApi> api);

protected:
    Task<QString> loadFolder(QString directory) override;

private:
    std::shared_ptr<VoskApi> m_api;
    // Shared with the sessions, whose workers may outlive the recogniser.
    std::shared_ptr<void> m_model;
};

} // namespace vel
