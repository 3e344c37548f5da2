#pragma once

#include "audio/ChosenRecognizer.h"
#include "audio/EngineProcess.h"

#include <memory>

class QNetworkAccessManager;

namespace vel {

class AppSettings;
class Logger;

// Where the engines come from: the engine process, and the library of each engine (empty: the
// engine process looks beside itself, then in the system's folders).
struct EngineSources {
    QString program = EngineLaunch::defaultProgram();
    QString vosk;
    QString sherpa;
};

// The on-device recogniser of the model chosen in the settings, among one recogniser per model
// of the catalogue, each run in an engine process. A model whose engine cannot run says why, and
// so does a log line. A model whose engine process ended on it is remembered in the settings and
// not loaded again until the user chooses it again.
std::unique_ptr<ChosenRecognizer> makeLocalRecognizer(Logger& log, AppSettings& settings, QNetworkAccessManager& network);
std::unique_ptr<ChosenRecognizer> makeChosenRecognizer(Logger& log, AppSettings& settings, QNetworkAccessManager& network,
                                                       const EngineSources& sources);

// A line for each recognition library (libvosk, libsherpa-onnx): the file the engine process
// loads, or why there is none (for --version).
QString localRecognitionReport();

} // namespace vel
