#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

namespace vel {

// Receives the program's log lines: one line per event, English, no time stamp.
// The app writes them to standard output; the command-line modes to standard error,
// so that standard output carries nothing but results.
class Logger {
public:
    virtual ~Logger() = default;
    virtual void line(const QString& text) = 0;
    // What the user said or Gemini answered: the log line gives only its length, since standard
    // output ends up in the session's journal. The text itself goes to the content sink alone,
    // which the user's debugging switch sets to the private debug log.
    void content(const QString& label, const QString& text);
    void setContentSink(std::function<void(const QString& line)> sink) { m_contentSink = std::move(sink); }

private:
    std::function<void(const QString&)> m_contentSink;
};

class StreamLogger final : public Logger {
public:
    explicit StreamLogger(std::FILE* stream) : m_stream(stream) {}
    void setStream(std::FILE* stream) { m_stream = stream; }
    void line(const QString& text) override;

private:
    std::FILE* m_stream;
};

// Keeps every line; used where lines are inspected afterwards (tests, diagnostics).
class RecordingLogger final : public Logger {
public:
    void line(const QString& text) override { m_lines.append(text); }
    const QStringList& lines() const { return m_lines; }
    void clear() { m_lines.clear(); }
    bool contains(const QString& text) const { return m_lines.contains(text); }
    qsizetype count(const QString& text) const { return m_lines.count(text); }

private:
    QStringList m_lines;
};

// Logs nowhere.
class NullLogger final : public Logger {
public:
    void line(const QString&) override {}
};

// "true"/"false", as the log lines print Booleans.
inline QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

// The quoted, escaped form of a text used by several log lines: between double quotes,
// with quotes, backslashes and control characters written as escape sequences.
QString quotedDebugForm(const QString& text);

} // namespace vel
