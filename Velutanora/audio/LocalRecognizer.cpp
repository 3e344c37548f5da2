#include "audio/LocalRecognizer.h"

#include "common/Logger.h"
#include "settings/AppSettings.h"

#include <QProcess>

namespace vel {

QString localRecognitionReport()
{
    QProcess engine;
    engine.start(EngineLaunch::defaultProgram(), {QStringLiteral("--report")});
    if (!engine.waitForFinished(10000) || engine.exitCode() != 0)
        return QStringLiteral("velutanora-engine: not available (%1)").arg(EngineLaunch::defaultProgram());
    return QString::fromUtf8(engine.readAllStandardOutput()).trimmed();
}

std::unique_ptr<ChosenRecognizer> makeChosenRecognizer(Logger& log, AppSettings& settings, QNetworkAccessManager& network,
                                                       const EngineSources& sources)
{
    std::vector<ChosenRecognizer::Entry> entries;
    for (const CatalogModel& model : modelCatalog()) {
        const ModelLocation location =
            ModelLocation::forModel(model.id, settings.recognizerModelDir(), settings.recognizerModelUrl());
        const EngineLaunch launch{sources.program, model.engine == RecognitionEngine::Vosk ? sources.vosk : sources.sherpa};
        auto recognizer =
            std::make_unique<ModelRecognizer>(log, model.engine, launch, location, network, settings.recognizerThreads());
        ModelRecognizer* engine = recognizer.get();
        QObject::connect(&settings, &AppSettings::recognizerThreadsChanged, engine,
                         [engine, &settings] { engine->setThreads(settings.recognizerThreads()); });
        const QString unavailable = recognizer->libraryFailure();
        if (!unavailable.isEmpty())
            log.line(QStringLiteral("⚠️ [%1] %2").arg(model.id, unavailable));
        entries.push_back(ChosenRecognizer::Entry{model, std::move(recognizer), unavailable});
    }
    auto chosen = std::make_unique<ChosenRecognizer>(log, std::move(entries), settings.recognizerModel());
    // A model its engine ended on is held back, across starts, until it is chosen again.
    const auto [crashedId, reason] = settings.crashedRecognizerModel();
    if (!crashedId.isEmpty())
        chosen->holdBack(crashedId, QStringLiteral("前回、%1。選び直すともう一度読み込みます").arg(reason));
    QObject::connect(chosen.get(), &ChosenRecognizer::modelCrashed, &settings,
                     [&settings](const QString& id, const QString& why) { settings.setCrashedRecognizerModel(id, why); });
    QObject::connect(chosen.get(), &ChosenRecognizer::modelReleased, &settings,
                     [&settings] { settings.setCrashedRecognizerModel({}, {}); });
    return chosen;
}

std::unique_ptr<ChosenRecognizer> makeLocalRecognizer(Logger& log, AppSettings& settings, QNetworkAccessManager& network)
{
    // Another build's libraries, or stand-ins for tests, where named.
    return makeChosenRecognizer(log, settings, network,
                                EngineSources{EngineLaunch::defaultProgram(), qEnvironmentVariable("VELUTANORA_VOSK_LIBRARY"),
                                              qEnvironmentVariable("VELUTANORA_SHERPA_LIBRARY")});
}

} // namespace vel
