#pragma once

#include "recording/SpeechRecognizer.h"

#include <memory>

class QNetworkAccessManager;

namespace vel {

class AppSettings;
class Logger;
struct SherpaOnnxApi;

// The configured on-device recogniser: libvosk from beside the program (or the system), with
// the model folder and address of the settings. Without libvosk: a recogniser that is never
// available, and a log line that says so.
std::unique_ptr<SpeechRecognizer> makeLocalRecognizer(Logger& log, const AppSettings& settings,
                                                      QNetworkAccessManager& network);

// libsherpa-onnx-c-api from beside the program (or the system), or none and why.
std::shared_ptr<SherpaOnnxApi> loadSherpaOnnx(QString* why);

// A line for each recognition library (libvosk, libsherpa-onnx): the file the program loads, or
// why there is none (for --version).
QString localRecognitionReport();

} // namespace vel
