#pragma once

#include "common/Error.h"
#include "recording/SpeechRecognizer.h"
#include "recording/VoskRecognizer.h"

#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace vel {

class Logger;

// Downloads the model zip, unpacks it (every entry checked) into a temporary folder beside the
// target, checks that libvosk loads it, and only then renames it into place: an interrupted or
// corrupt download never leaves half a model behind. Every failure removes what it wrote.
class ModelInstaller final : public ModelInstallation {
public:
    ModelInstaller(Logger& log, QNetworkAccessManager& network, ModelLocation location, std::shared_ptr<VoskApi> api);

    Task<void> downloadAndInstall() override;

    // Loads the installed model into the recogniser; false when it will not load.
    std::function<Task<bool>(const QString& directory)> onInstalled;
    // Called once at the end, whatever the outcome.
    std::function<void()> onFinished;

    static Task<bool> answer(bool value) { co_return value; }

    // Unpacks a zip into `destination`, refusing absolute paths, "..", links and special files.
    // Returns an empty string on success, else the reason.
    static QString unpack(const QString& zipPath, const QString& destination);

private:
    Task<void> run();
    Logger& m_log;
    QNetworkAccessManager& m_network;
    ModelLocation m_location;
    std::shared_ptr<VoskApi> m_api;
};

class ModelInstallError : public Error {
public:
    using Error::Error;
};

} // namespace vel
