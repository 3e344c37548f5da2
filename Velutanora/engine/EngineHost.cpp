#include "engine/EngineHost.h"

#include "common/Error.h"

#include <QCoreApplication>
#include <QPointer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace vel {

using EngineWire::Type;

EngineHost::EngineHost(std::unique_ptr<Engine> engine, int input, int output, QObject* parent)
    : QObject(parent), m_engine(std::move(engine)), m_output(output), m_input(input, QSocketNotifier::Read)
{
    connect(&m_input, &QSocketNotifier::activated, this, &EngineHost::readInput);
    m_poll.setInterval(5);
    connect(&m_poll, &QTimer::timeout, this, &EngineHost::pollDrained);
}

void EngineHost::readInput()
{
    char chunk[65536];
    const ssize_t n = ::read(static_cast<int>(m_input.socket()), chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // The program has gone, or closed its end: nobody is left to answer.
        m_input.setEnabled(false);
        QCoreApplication::exit(0);
        return;
    }
    m_buffer.append(QByteArray(chunk, static_cast<qsizetype>(n)));
    while (const std::optional<QByteArray> message = m_buffer.next())
        handle(*message);
    if (m_buffer.isCorrupt()) {
        std::fputs("velutanora-engine: the program's messages are not readable\n", stderr);
        QCoreApplication::exit(2);
    }
}

void EngineHost::send(const EngineWire::Writer& message)
{
    const QByteArray frame = message.frame();
    qsizetype written = 0;
    while (written < frame.size()) {
        const ssize_t n = ::write(m_output, frame.constData() + written, static_cast<size_t>(frame.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            QCoreApplication::exit(0);
            return;
        }
        written += n;
    }
}

void EngineHost::handle(const QByteArray& message)
{
    EngineWire::Reader in(message);
    const std::optional<Type> type = in.type();
    if (type == Type::Load) {
        const QString directory = in.text();
        const int threads = static_cast<int>(in.u32());
        send(EngineWire::Writer(Type::Loaded).text(in.ok() ? m_engine->load(directory, threads) : QStringLiteral("bad request")));
        return;
    }
    if (type == Type::Unload) {
        m_engine->unload();
        return;
    }
    const quint32 id = in.u32();
    if (type == Type::Start) {
        const QString words = in.text();
        std::shared_ptr<RecognizerSession> session = m_engine->makeSession(words.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        if (!session) {
            send(EngineWire::Writer(Type::Ended).u32(id).text(QStringLiteral("no model is loaded")));
            return;
        }
        m_sessions[id] = Session{session};
        spawn(this, forwardResults(id, session));
        return;
    }
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return; // ended or cancelled meanwhile
    if (type == Type::Audio) {
        it->second.session->appendAudio(AudioBuffer{AudioFormat::int16Mono16k(), in.bytes()});
        ++it->second.taken;
        if (!m_poll.isActive())
            m_poll.start();
    } else if (type == Type::Finish) {
        it->second.session->finishInput();
    } else if (type == Type::Cancel) {
        m_sessions.erase(it);
    }
}

// A session that has recognised all it was given says so, after the results that came of it:
// they reach the main loop in two hops (the worker's post, then the forwarding task), so the
// answer follows two hops later.
void EngineHost::pollDrained()
{
    bool pending = false;
    for (auto& [id, s] : m_sessions) {
        if (s.taken == s.reported)
            continue;
        pending = true;
        if (s.session->isBusy())
            continue;
        const quint32 session = id;
        const quint64 taken = s.taken;
        s.reported = taken;
        QPointer<EngineHost> self(this);
        postToMainLoop([self, session, taken] {
            postToMainLoop([self, session, taken] {
                if (self)
                    self->send(EngineWire::Writer(Type::Drained).u32(session).u64(taken));
            });
        });
    }
    if (!pending)
        m_poll.stop();
}

Task<void> EngineHost::forwardResults(quint32 id, std::shared_ptr<RecognizerSession> session)
{
    QString failure;
    try {
        for (;;) {
            const std::optional<RecognitionResult> result = co_await session->nextResult();
            if (!result)
                break;
            send(EngineWire::Writer(Type::Result).u32(id).u32(result->isFinal ? 1 : 0).text(result->text));
        }
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    send(EngineWire::Writer(Type::Ended).u32(id).text(failure));
    m_sessions.erase(id);
}

namespace {

// The signal that ends the process goes to standard error first, where the program reads why
// its engine ended: only async-signal-safe calls here.
void sayFatalSignal(int signal)
{
    const char* name = signal == SIGSEGV ? "SIGSEGV" : signal == SIGABRT ? "SIGABRT" : signal == SIGFPE ? "SIGFPE"
                       : signal == SIGBUS ? "SIGBUS" : signal == SIGILL ? "SIGILL" : "a fatal signal";
    const char prefix[] = "velutanora-engine: ended by ";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    n = ::write(STDERR_FILENO, name, std::strlen(name));
    n = ::write(STDERR_FILENO, "\n", 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int runEngineProcess(int argc, char** argv)
{
    for (int signal : {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL})
        std::signal(signal, sayFatalSignal);
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fputs("usage: velutanora-engine vosk|nemo-ctc|transducer [--library PATH]\n", stderr);
        return 2;
    }
    if (args.at(1) == QLatin1String("--report")) {
        std::fputs(qUtf8Printable(engineLibraryReport() + QLatin1Char('\n')), stdout);
        return 0;
    }
    const qsizetype libraryAt = args.indexOf(QStringLiteral("--library"));
    const QString library = libraryAt > 0 ? args.value(libraryAt + 1) : QString();
    QString why;
    std::unique_ptr<Engine> engine = makeEngine(args.at(1), library, &why);
    if (!engine) {
        std::fprintf(stderr, "velutanora-engine: %s\n", qUtf8Printable(why));
        return EngineWire::kNoLibraryExit;
    }
    // The program reads what is written at once; a write to a program that has gone ends here.
    EngineHost host(std::move(engine), STDIN_FILENO, STDOUT_FILENO);
    return app.exec();
}

} // namespace vel
