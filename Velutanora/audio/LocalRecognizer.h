#pragma once

#include "audio/ChosenRecognizer.h"

#include <memory>

class QNetworkAccessManager;

namespace vel {

class AppSettings;
class Logger;
struct SherpaOnnxApi;
struct VoskApi;

// The on-device recogniser of the model chosen in the settings, among one recogniser per model
// of the catalogue, each on its engine's library from beside the program (or the system). A model
// whose library is missing says why, and so does a log line.
std::unique_ptr<ChosenRecognizer> makeLocalRecognizer(Logger& log, const AppSettings& settings,
                                                      QNetworkAccessManager& network);
// The same with libvosk given (none: missing, and why) and how to load libsherpa-onnx-c-api.
std::unique_ptr<ChosenRecognizer> makeChosenRecognizer(
    Logger& log, const AppSettings& settings, QNetworkAccessManager& network, std::shared_ptr<VoskApi> vosk,
    const QString& whyNoVosk, std::function<std::shared_ptr<SherpaOnnxApi>(QString* why)> sherpa);

// libsherpa-onnx-c-api from beside the program (or the system), or none and why.
std::shared_ptr<SherpaOnnxApi> loadSherpaOnnx(QString* why);

// A line for each recognition library (libvosk, libsherpa-onnx): the file the program loads, or
// why there is none (for --version).
QString localRecognitionReport();

} // namespace vel
