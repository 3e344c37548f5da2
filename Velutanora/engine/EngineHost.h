#pragma once

#include "common/Task.h"
#include "engine/Engine.h"
#include "recording/EngineWire.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <map>
#include <memory>

namespace vel {

// The engine process's end of the wire: reads the program's requests on one descriptor, runs
// them on the engine, and answers on the other. The program's end closing ends the process.
class EngineHost final : public QObject {
    Q_OBJECT
public:
    EngineHost(std::unique_ptr<Engine> engine, int input, int output, QObject* parent = nullptr);

private:
    struct Session {
        std::shared_ptr<RecognizerSession> session;
        quint64 taken = 0;    // Audio messages given to it
        quint64 reported = 0; // of those, the number said to be recognised
    };
    void readInput();
    void handle(const QByteArray& message);
    void send(const EngineWire::Writer& message);
    void pollDrained();
    Task<void> forwardResults(quint32 id, std::shared_ptr<RecognizerSession> session);

    std::unique_ptr<Engine> m_engine;
    int m_output;
    QSocketNotifier m_input;
    EngineWire::FrameBuffer m_buffer;
    std::map<quint32, Session> m_sessions;
    QTimer m_poll;
};

// The engine process: `velutanora-engine ENGINE [--library PATH]`, talking on its standard input
// and output; `velutanora-engine --report` prints the libraries it finds. Returns its exit status.
int runEngineProcess(int argc, char** argv);

} // namespace vel
