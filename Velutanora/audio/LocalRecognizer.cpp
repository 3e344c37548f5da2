#include "audio/LocalRecognizer.h"

#include "common/Logger.h"
#include "audio/VoskRecognizer.h"
#include "settings/AppSettings.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace vel {

namespace {

std::shared_ptr<VoskApi> loadVosk(QString* why)
{
    // VELUTANORA_VOSK_LIBRARY names another build of the library (or a stand-in for tests).
    const QString chosen = qEnvironmentVariable("VELUTANORA_VOSK_LIBRARY");
    if (!chosen.isEmpty())
        return VoskApi::load(chosen, why);
    // Beside the program in a build tree; the bare name goes through the installed program's run
    // path (its private library folder), then the system's.
    std::shared_ptr<VoskApi> api =
        VoskApi::load(QCoreApplication::applicationDirPath() + QStringLiteral("/libvosk.so"), why);
    if (!api)
        api = VoskApi::load(QStringLiteral("libvosk.so"), why);
    return api;
}

} // namespace

QString localRecognitionReport()
{
    QString why;
    const std::shared_ptr<VoskApi> api = loadVosk(&why);
    return api ? QStringLiteral("libvosk: %1").arg(QFileInfo(api->path).canonicalFilePath())
               : QStringLiteral("libvosk: not available (%1)").arg(why);
}

std::unique_ptr<SpeechRecognizer> makeLocalRecognizer(Logger& log, const AppSettings& settings,
                                                      QNetworkAccessManager& network)
{
    QString why;
    std::shared_ptr<VoskApi> api = loadVosk(&why);
    if (!api) {
        log.line(QStringLiteral("⚠️ [Vosk] libvosk is not available (%1): no local recognition").arg(why));
        return std::make_unique<NoSpeechRecognizer>();
    }
    const ModelLocation location = ModelLocation::forModel(settings.recognizerModel(), settings.recognizerModelDir(),
                                                           settings.recognizerModelUrl());
    return std::make_unique<VoskRecognizer>(log, api, location, network);
}

} // namespace vel
