#pragma once

#include "common/Clock.h"
#include "common/Error.h"
#include "common/Task.h"
#include "recording/EngineWire.h"
#include "recording/SpeechRecognizer.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace vel {

class Logger;
struct EngineLink;
struct RemoteSessionState;

// How an engine process is started: the program and the library its engine loads.
struct EngineLaunch {
    QString program; // velutanora-engine
    QString library; // empty: the engine process looks beside itself, then in the system's folders

    // velutanora-engine beside this program (a build tree), else in the package's private folder.
    static QString defaultProgram();
    // Why an engine of that name ("vosk", "nemo-ctc", "transducer") cannot start here: no engine
    // process, or no library file where it would look (empty: it may start).
    QString unavailability(const QString& engine) const;
};

// Thrown into a dictation's results when its engine process ends or stops answering.
class EngineEnded : public Error {
public:
    using Error::Error;
};

// The engine process of one model, as the program sees it: started when a folder is first loaded,
// fed over its standard input, heard on its standard output; its standard error is kept for the
// reason it ended. Whatever the engine's library does to its own process, this one goes on: the
// load and every session under way end with the reason, and `ended` says it.
class EngineProcess final : public QObject {
    Q_OBJECT
public:
    // How long the engine may leave work unanswered before it counts as hung and is stopped.
    static constexpr double kHangSeconds = 30.0;
    // How long a model may take to load.
    static constexpr double kLoadSeconds = 300.0;

    EngineProcess(Logger& log, EngineLaunch launch, QString engine, QObject* parent = nullptr);
    ~EngineProcess() override;

    // Starts the process when it is not running and loads the folder in it: empty once loaded,
    // otherwise why not (the process's end among the reasons).
    Task<QString> load(QString directory, int threads);
    void unload();
    // A session over the loaded model; none without one.
    std::shared_ptr<RecognizerSession> makeSession(const QStringList& words);
    bool isLoaded() const { return m_loaded; }
    // For tests: how long unanswered work is tolerated.
    void setHangSeconds(double seconds) { m_hangSeconds = seconds; }
    // The process's id while it runs (0 otherwise).
    qint64 processId() const;

signals:
    // The process ended, or was stopped as hung, while it held a model or was loading one. Not
    // `byTheModel`: its library did not load, which is no fault of the model.
    void ended(const QString& reason, bool byTheModel);

private:
    friend struct EngineLink;
    void start();
    void send(const EngineWire::Writer& message);
    void readOutput();
    void handle(const QByteArray& message);
    void onFinished(int exitCode, QProcess::ExitStatus status);
    // Ends what waits on the process with the reason; `tell`: emit ended where something was held.
    void endWith(const QString& reason, bool tell, bool byTheModel = true);
    void flushAudio(const std::shared_ptr<RemoteSessionState>& session);
    void cancelSession(quint32 id);
    void watch();
    bool awaitsAnswer() const;
    QString lastWords() const;

    Logger& m_log;
    EngineLaunch m_launch;
    QString m_engine;
    SystemClock m_clock; // a real process is watched in real time
    QProcess* m_process = nullptr;
    EngineWire::FrameBuffer m_frames;
    QByteArray m_errorTail;
    bool m_loaded = false;
    bool m_stopping = false;
    QString m_endReason;  // why the last process ended
    QString m_stopReason; // why this program is stopping the process (hung, unreadable)
    std::vector<Completion<QString>> m_loadWaiters;
    double m_loadStarted = 0;
    std::map<quint32, std::weak_ptr<RemoteSessionState>> m_sessions;
    quint32 m_nextSession = 1;
    std::shared_ptr<EngineLink> m_link;
    std::unique_ptr<ClockTimer> m_watchdog;
    double m_lastHeard = 0;
    double m_hangSeconds = kHangSeconds;
};

} // namespace vel
