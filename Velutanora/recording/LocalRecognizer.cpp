#include "recording/LocalRecognizer.h"

#include "common/Logger.h"
#include "recording/VoskRecognizer.h"
#include "settings/AppSettings.h"

#include <QCoreApplication>

namespace vel {

std::unique_ptr<SpeechRecognizer> makeLocalRecognizer(Logger& log, const AppSettings& settings,
                                                      QNetworkAccessManager& network)
{
    QString why;
    // VELUTANORA_VOSK_LIBRARY names another build of the library (or a stand-in for tests).
    const QString chosen = qEnvironmentVariable("VELUTANORA_VOSK_LIBRARY");
    std::shared_ptr<VoskApi> api = VoskApi::load(
        chosen.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/libvosk.so") : chosen, &why);
    if (!api)
        api = VoskApi::load(QStringLiteral("libvosk.so"), &why);
    if (!api) {
        log.line(QStringLiteral("⚠️ [Vosk] libvosk is not available (%1): no local recognition").arg(why));
        return std::make_unique<NoSpeechRecognizer>();
    }
    ModelLocation location{settings.recognizerModelDir(), settings.recognizerModelUrl()};
    if (location.directory.isEmpty())
        location.directory = ModelLocation::defaultDirectory();
    if (location.url.isEmpty())
        location.url = ModelLocation::defaultUrl();
    return std::make_unique<VoskRecognizer>(log, api, location, network);
}

} // namespace vel
