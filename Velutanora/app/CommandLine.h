#pragma once

#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace vel {

// The program's command-line entry: everything that runs without a desktop.
// Returns the process exit status. Results go to `out`; status and log lines to `err`.
class AppSettings;
class Logger;
class SpeechRecognizer;

class CommandLine {
public:
    // The most text `process --file` reads.
    static constexpr qint64 kMaxTextFileBytes = 16 << 20;
    // Makes the configured local recogniser (none: no local recognition).
    using RecognizerFactory =
        std::function<std::unique_ptr<SpeechRecognizer>(Logger&, AppSettings&, QNetworkAccessManager&)>;

    // Lines that --version prints after the version (the libraries the program found).
    using VersionDetails = std::function<QString()>;

    CommandLine(std::FILE* out, std::FILE* err, RecognizerFactory recognizers = {}, VersionDetails details = {})
        : m_out(out), m_err(err), m_recognizers(std::move(recognizers)), m_versionDetails(std::move(details))
    {
    }

    int run(const QStringList& arguments);

    static QString usageLine();
    static QString helpText();

private:
    int printSettings();
    int process(const QStringList& args);
    int transcribe(const QStringList& args);
    int usageError(const QString& message);
    void write(std::FILE* stream, const QString& text);

    std::FILE* m_out;
    std::FILE* m_err;
    RecognizerFactory m_recognizers;
    VersionDetails m_versionDetails;
};

} // namespace vel
