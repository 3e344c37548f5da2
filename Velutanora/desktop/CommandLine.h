#pragma once

#include <QStringList>

#include <cstdio>

namespace vel {

// The program's command-line entry: everything that runs without a desktop.
// Returns the process exit status. Results go to `out`; status and log lines to `err`.
class CommandLine {
public:
    CommandLine(std::FILE* out, std::FILE* err) : m_out(out), m_err(err) {}

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
};

} // namespace vel
