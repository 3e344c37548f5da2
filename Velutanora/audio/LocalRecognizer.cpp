#include "audio/LocalRecognizer.h"

#include "common/Logger.h"
#include "audio/SherpaOnnxApi.h"
#include "audio/SherpaOnnxRecognizer.h"
#include "audio/VoskRecognizer.h"
#include "settings/AppSettings.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace vel {

namespace {

// A library named by its environment variable (another build, or a stand-in for tests); else
// beside the program in a build tree, then the bare name, through the installed program's run path
// (its private library folder), then the system's.
template <class Api>
std::shared_ptr<Api> loadLibrary(const char* variable, const QString& file, QString* why)
{
    const QString chosen = qEnvironmentVariable(variable);
    if (!chosen.isEmpty())
        return Api::load(chosen, why);
    std::shared_ptr<Api> api = Api::load(QCoreApplication::applicationDirPath() + QLatin1Char('/') + file, why);
    return api ? api : Api::load(file, why);
}

std::shared_ptr<VoskApi> loadVosk(QString* why)
{
    return loadLibrary<VoskApi>("VELUTANORA_VOSK_LIBRARY", QStringLiteral("libvosk.so"), why);
}

} // namespace

std::shared_ptr<SherpaOnnxApi> loadSherpaOnnx(QString* why)
{
    return loadLibrary<SherpaOnnxApi>("VELUTANORA_SHERPA_LIBRARY", QStringLiteral("libsherpa-onnx-c-api.so"), why);
}

QString localRecognitionReport()
{
    QString why;
    const std::shared_ptr<VoskApi> vosk = loadVosk(&why);
    QString report = vosk ? QStringLiteral("libvosk: %1").arg(QFileInfo(vosk->path).canonicalFilePath())
                          : QStringLiteral("libvosk: not available (%1)").arg(why);
    const std::shared_ptr<SherpaOnnxApi> sherpa = loadSherpaOnnx(&why);
    report += sherpa ? QStringLiteral("\nlibsherpa-onnx: %1 (%2)")
                           .arg(QFileInfo(sherpa->path).canonicalFilePath(), QString::fromUtf8(sherpa->version()))
                     : QStringLiteral("\nlibsherpa-onnx: not available (%1)").arg(why);
    return report;
}

std::unique_ptr<ChosenRecognizer> makeChosenRecognizer(
    Logger& log, const AppSettings& settings, QNetworkAccessManager& network, std::shared_ptr<VoskApi> vosk,
    const QString& whyNoVosk, std::function<std::shared_ptr<SherpaOnnxApi>(QString* why)> sherpa)
{
    std::vector<ChosenRecognizer::Entry> entries;
    for (const CatalogModel& model : modelCatalog()) {
        ChosenRecognizer::Entry entry{model, nullptr, QString()};
        const ModelLocation location =
            ModelLocation::forModel(model.id, settings.recognizerModelDir(), settings.recognizerModelUrl());
        switch (model.engine) {
        case RecognitionEngine::Vosk:
            if (vosk)
                entry.recognizer = std::make_unique<VoskRecognizer>(log, vosk, location, network);
            else
                entry.unavailable = QStringLiteral("音声認識ライブラリ (libvosk) が見つかりません");
            break;
        case RecognitionEngine::SherpaOnnxNemoCtc:
        case RecognitionEngine::SherpaOnnxTransducer:
            {
                auto recognizer = std::make_unique<SherpaOnnxRecognizer>(log, sherpa, model.engine, location, network,
                                                                         settings.recognizerThreads());
                SherpaOnnxRecognizer* engine = recognizer.get();
                QObject::connect(&settings, &AppSettings::recognizerThreadsChanged, engine,
                                 [engine, &settings] { engine->setThreads(settings.recognizerThreads()); });
                entry.recognizer = std::move(recognizer);
            }
            break;
        }
        entries.push_back(std::move(entry));
    }
    if (!vosk)
        log.line(QStringLiteral("⚠️ [Vosk] libvosk is not available (%1)").arg(whyNoVosk));
    return std::make_unique<ChosenRecognizer>(log, std::move(entries), settings.recognizerModel());
}

std::unique_ptr<ChosenRecognizer> makeLocalRecognizer(Logger& log, const AppSettings& settings,
                                                      QNetworkAccessManager& network)
{
    QString whyNoVosk;
    std::shared_ptr<VoskApi> vosk = loadVosk(&whyNoVosk);
    return makeChosenRecognizer(log, settings, network, std::move(vosk), whyNoVosk, loadSherpaOnnx);
}

} // namespace vel
