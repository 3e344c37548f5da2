#include "engine/Engine.h"

#include "engine/SherpaOnnxEngine.h"
#include "engine/VoskEngine.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace vel {

namespace {

// The library named, on the command line or by its variable (another build, or a stand-in for
// tests); else beside this program, then the bare name, through the run path (the installed
// package's private folder) and the system's.
template <class Api>
std::shared_ptr<Api> loadLibrary(const QString& library, const QString& file, QString* why)
{
    const QString named = !library.isEmpty() ? library
                          : qEnvironmentVariable(file == QLatin1String("libvosk.so") ? "VELUTANORA_VOSK_LIBRARY"
                                                                                     : "VELUTANORA_SHERPA_LIBRARY");
    if (!named.isEmpty())
        return Api::load(named, why);
    std::shared_ptr<Api> api = Api::load(QCoreApplication::applicationDirPath() + QLatin1Char('/') + file, why);
    return api ? api : Api::load(file, why);
}

} // namespace

QString engineLibraryName(const QString& name)
{
    return name == QLatin1String("vosk") ? QStringLiteral("libvosk.so") : QStringLiteral("libsherpa-onnx-c-api.so");
}

QString engineLibraryReport()
{
    QString why;
    const std::shared_ptr<VoskApi> vosk = loadLibrary<VoskApi>({}, engineLibraryName(QStringLiteral("vosk")), &why);
    QString report = vosk ? QStringLiteral("libvosk: %1").arg(QFileInfo(vosk->path).canonicalFilePath())
                          : QStringLiteral("libvosk: not available (%1)").arg(why);
    const std::shared_ptr<SherpaOnnxApi> sherpa =
        loadLibrary<SherpaOnnxApi>({}, engineLibraryName(QStringLiteral("nemo-ctc")), &why);
    report += sherpa ? QStringLiteral("\nlibsherpa-onnx: %1 (%2)")
                           .arg(QFileInfo(sherpa->path).canonicalFilePath(), QString::fromUtf8(sherpa->version()))
                     : QStringLiteral("\nlibsherpa-onnx: not available (%1)").arg(why);
    return report;
}

std::unique_ptr<Engine> makeEngine(const QString& name, const QString& library, QString* why)
{
    if (name == QLatin1String("vosk")) {
        std::shared_ptr<VoskApi> api = loadLibrary<VoskApi>(library, engineLibraryName(name), why);
        return api ? std::make_unique<VoskEngine>(api) : nullptr;
    }
    if (name == QLatin1String("nemo-ctc") || name == QLatin1String("transducer")) {
        std::shared_ptr<SherpaOnnxApi> api = loadLibrary<SherpaOnnxApi>(library, engineLibraryName(name), why);
        return api ? std::make_unique<SherpaOnnxEngine>(api, name == QLatin1String("transducer")) : nullptr;
    }
    *why = QStringLiteral("unknown engine %1").arg(name);
    return nullptr;
}

} // namespace vel
