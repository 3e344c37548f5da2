#include "audio/EngineProcess.h"

#include "common/AsyncQueue.h"
#include "common/Logger.h"
#include "recording/AudioConverter.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vel {

using EngineWire::Type;

// A dictation's session as the program holds it: the audio gathered for the engine (from the
// audio thread), the results that came back, and whether all that was sent has been recognised.
struct RemoteSessionState {
    quint32 id = 0;
    std::weak_ptr<EngineLink> link;
    // Main thread.
    AsyncQueue<RecognitionResult> results;
    Completion<Unit> done;
    bool ended = false;
    quint64 sent = 0;    // Audio messages sent
    quint64 drained = 0; // of those, recognised
    // Any thread.
    mutable std::mutex lock;
    QByteArray inbox;
    bool flushPosted = false;
    bool inputFinished = false;

    void end(std::exception_ptr error)
    {
        if (ended)
            return;
        ended = true;
        results.finish(error);
        done.resolve(Unit{});
    }
};

// What a session reaches its process through: the process while it lives (main thread only).
struct EngineLink {
    EngineProcess* process = nullptr;

    static void flush(const std::shared_ptr<RemoteSessionState>& state)
    {
        if (const std::shared_ptr<EngineLink> link = state->link.lock(); link && link->process)
            link->process->flushAudio(state);
    }
    static void finish(const std::shared_ptr<RemoteSessionState>& state)
    {
        const std::shared_ptr<EngineLink> link = state->link.lock();
        if (!link || !link->process) {
            state->end(std::make_exception_ptr(EngineEnded(QStringLiteral("音声認識エンジンがありません"))));
            return;
        }
        link->process->flushAudio(state);
        if (!state->ended)
            link->process->send(EngineWire::Writer(Type::Finish).u32(state->id));
        link->process->watch();
    }
    static void cancel(const std::shared_ptr<RemoteSessionState>& state)
    {
        if (const std::shared_ptr<EngineLink> link = state->link.lock(); link && link->process && !state->ended)
            link->process->cancelSession(state->id);
    }
};

namespace {

QByteArray int16Mono(const AudioBuffer& buffer)
{
    if (buffer.format.sampleType == SampleType::Int16 && buffer.format.channels == 1)
        return buffer.data;
    std::vector<float> mono;
    mixToMono(buffer, mono);
    QByteArray out(static_cast<qsizetype>(mono.size() * 2), '\0');
    auto* samples = reinterpret_cast<qint16*>(out.data());
    for (size_t i = 0; i < mono.size(); ++i)
        samples[i] = static_cast<qint16>(std::clamp(mono[i], -1.0f, 1.0f) * 32767.0f);
    return out;
}

class RemoteSession final : public RecognizerSession {
public:
    explicit RemoteSession(std::shared_ptr<RemoteSessionState> state) : m_state(std::move(state)) {}
    // The last holder may be the audio thread: the engine is told on the main thread.
    ~RemoteSession() override
    {
        postToMainLoop([state = m_state] { EngineLink::cancel(state); });
    }

    // From the audio thread: gathered here, sent from the main thread in one message per turn of
    // its loop.
    void appendAudio(const AudioBuffer& buffer) override
    {
        const QByteArray pcm = int16Mono(buffer);
        bool post = false;
        {
            std::lock_guard guard(m_state->lock);
            if (m_state->inputFinished)
                return;
            m_state->inbox.append(pcm);
            post = !std::exchange(m_state->flushPosted, true);
        }
        if (post)
            postToMainLoop([state = m_state] { EngineLink::flush(state); });
    }
    void finishInput() override
    {
        {
            std::lock_guard guard(m_state->lock);
            if (std::exchange(m_state->inputFinished, true))
                return;
        }
        EngineLink::finish(m_state);
    }
    Task<std::optional<RecognitionResult>> nextResult() override { return m_state->results.next(); }
    Task<void> finalizeAndFinishThroughEndOfInput() override
    {
        finishInput();
        auto state = m_state;
        co_await state->done;
    }
    bool isBusy() const override
    {
        std::lock_guard guard(m_state->lock);
        return !m_state->ended && (!m_state->inbox.isEmpty() || m_state->sent != m_state->drained || m_state->inputFinished);
    }

private:
    std::shared_ptr<RemoteSessionState> m_state;
};

// The name of the signal that ended a process ("SIGABRT").
QString signalName(int signal)
{
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation ? QStringLiteral("SIG") + QLatin1String(abbreviation) : QStringLiteral("シグナル %1").arg(signal);
}

} // namespace

QString EngineLaunch::defaultProgram()
{
    const QString chosen = qEnvironmentVariable("VELUTANORA_ENGINE");
    if (!chosen.isEmpty())
        return chosen;
    const QString here = QCoreApplication::applicationDirPath();
    const QString beside = here + QStringLiteral("/velutanora-engine");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return here + QStringLiteral("/../" VELUTANORA_PRIVATE_LIBDIR "/velutanora-engine");
}

QString EngineLaunch::unavailability(const QString& engine) const
{
    const QString file = engine == QLatin1String("vosk") ? QStringLiteral("libvosk.so") : QStringLiteral("libsherpa-onnx-c-api.so");
    const QString label = engine == QLatin1String("vosk") ? QStringLiteral("libvosk") : QStringLiteral("libsherpa-onnx-c-api");
    if (!QFileInfo(program).isExecutable())
        return QStringLiteral("音声認識エンジン (velutanora-engine) が見つかりません: %1").arg(program);
    if (!library.isEmpty())
        return QFileInfo::exists(library) ? QString() : QStringLiteral("音声認識ライブラリ (%1) が見つかりません: %2").arg(label, library);
    const QStringList folders{QFileInfo(program).absolutePath(), QStringLiteral("/usr/lib/x86_64-linux-gnu"),
                              QStringLiteral("/usr/lib64"), QStringLiteral("/usr/lib"), QStringLiteral("/usr/local/lib")};
    for (const QString& folder : folders)
        if (QFileInfo::exists(folder + QLatin1Char('/') + file))
            return {};
    return QStringLiteral("音声認識ライブラリ (%1) が見つかりません").arg(label);
}

EngineProcess::EngineProcess(Logger& log, EngineLaunch launch, QString engine, QObject* parent)
    : QObject(parent), m_log(log), m_launch(std::move(launch)), m_engine(std::move(engine)),
      m_link(std::make_shared<EngineLink>(EngineLink{this}))
{
}

EngineProcess::~EngineProcess()
{
    m_link->process = nullptr;
    if (m_process) {
        m_stopping = true;
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(2000);
    }
    // Nothing waits for ever on a process that is gone.
    endWith(QStringLiteral("音声認識エンジンを終了しました"), false);
}

qint64 EngineProcess::processId() const { return m_process ? m_process->processId() : 0; }

void EngineProcess::start()
{
    m_process = new QProcess(this);
    m_frames = EngineWire::FrameBuffer();
    m_errorTail.clear();
    m_stopping = false;
    QStringList args{m_engine};
    if (!m_launch.library.isEmpty())
        args << QStringLiteral("--library") << m_launch.library;
    connect(m_process, &QProcess::readyReadStandardOutput, this, &EngineProcess::readOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, [this] {
        m_errorTail.append(m_process->readAllStandardError());
        if (m_errorTail.size() > 4096)
            m_errorTail = m_errorTail.right(4096);
    });
    connect(m_process, &QProcess::finished, this, &EngineProcess::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            endWith(QStringLiteral("音声認識エンジン (velutanora-engine) を起動できません: %1").arg(m_process->errorString()), true,
                    false);
    });
    m_process->start(m_launch.program, args);
    m_log.line(QStringLiteral("🗣️ [engine] %1 started").arg(m_engine));
}

void EngineProcess::send(const EngineWire::Writer& message)
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->write(message.frame());
}

Task<QString> EngineProcess::load(QString directory, int threads)
{
    if (!m_process)
        start();
    if (!m_process)
        co_return m_endReason;
    Completion<QString> answer;
    m_loadWaiters.push_back(answer);
    m_loaded = false;
    m_loadStarted = m_clock.now();
    send(EngineWire::Writer(Type::Load).text(directory).u32(static_cast<quint32>(std::max(1, threads))));
    watch();
    const QString failure = co_await answer;
    co_return failure;
}

void EngineProcess::unload()
{
    m_loaded = false;
    send(EngineWire::Writer(Type::Unload));
}

std::shared_ptr<RecognizerSession> EngineProcess::makeSession(const QStringList& words)
{
    if (!m_loaded || !m_process)
        return nullptr;
    auto state = std::make_shared<RemoteSessionState>();
    state->id = m_nextSession++;
    state->link = m_link;
    m_sessions[state->id] = state;
    send(EngineWire::Writer(Type::Start).u32(state->id).text(words.join(QLatin1Char('\n'))));
    return std::make_shared<RemoteSession>(state);
}

void EngineProcess::flushAudio(const std::shared_ptr<RemoteSessionState>& state)
{
    QByteArray pcm;
    {
        std::lock_guard guard(state->lock);
        pcm = std::exchange(state->inbox, QByteArray());
        state->flushPosted = false;
    }
    if (pcm.isEmpty() || state->ended)
        return;
    send(EngineWire::Writer(Type::Audio).u32(state->id).bytes(pcm));
    ++state->sent;
    watch();
}

void EngineProcess::cancelSession(quint32 id)
{
    m_sessions.erase(id);
    send(EngineWire::Writer(Type::Cancel).u32(id));
}

void EngineProcess::readOutput()
{
    m_lastHeard = m_clock.now();
    m_frames.append(m_process->readAllStandardOutput());
    while (const std::optional<QByteArray> message = m_frames.next())
        handle(*message);
    if (m_frames.isCorrupt() && m_process) {
        m_stopReason = QStringLiteral("音声認識エンジンの応答が読めません");
        m_process->kill();
    }
}

void EngineProcess::handle(const QByteArray& message)
{
    EngineWire::Reader in(message);
    const std::optional<Type> type = in.type();
    if (type == Type::Loaded) {
        const QString failure = in.text();
        m_loaded = failure.isEmpty();
        if (!m_loadWaiters.empty()) {
            const Completion<QString> first = m_loadWaiters.front();
            m_loadWaiters.erase(m_loadWaiters.begin());
            first.resolve(failure);
        }
        return;
    }
    const quint32 id = in.u32();
    const auto it = m_sessions.find(id);
    const std::shared_ptr<RemoteSessionState> state = it == m_sessions.end() ? nullptr : it->second.lock();
    if (!state)
        return;
    if (type == Type::Result) {
        const bool isFinal = in.u32() != 0;
        const QString text = in.text();
        state->results.push(RecognitionResult{text, isFinal});
    } else if (type == Type::Ended) {
        const QString failure = in.text();
        m_sessions.erase(it);
        state->end(failure.isEmpty() ? nullptr : std::make_exception_ptr(EngineEnded(failure)));
    } else if (type == Type::Drained) {
        state->drained = in.u64();
    }
}

QString EngineProcess::lastWords() const
{
    QStringList lines = QString::fromUtf8(m_errorTail).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    while (lines.size() > 2)
        lines.removeFirst();
    QString words = lines.join(QStringLiteral(" / ")).trimmed();
    if (words.size() > 300)
        words = words.left(300) + QStringLiteral("…");
    return words;
}

void EngineProcess::onFinished(int exitCode, QProcess::ExitStatus status)
{
    QString reason;
    if (!m_stopReason.isEmpty())
        reason = m_stopReason;
    else if (status == QProcess::CrashExit)
        reason = QStringLiteral("音声認識エンジンが異常終了しました（%1）").arg(signalName(exitCode));
    else if (exitCode == EngineWire::kNoLibraryExit)
        reason = QStringLiteral("音声認識ライブラリを読み込めません");
    else
        reason = QStringLiteral("音声認識エンジンが終了しました（終了コード %1）").arg(exitCode);
    if (const QString words = lastWords(); !words.isEmpty())
        reason += QStringLiteral("。最後の出力: ") + words;
    m_log.line(QStringLiteral("⚠️ [engine] %1 ended: %2").arg(m_engine, reason));
    endWith(reason, true, m_stopReason.isEmpty() ? !(status == QProcess::NormalExit && exitCode == EngineWire::kNoLibraryExit) : true);
}

void EngineProcess::endWith(const QString& reason, bool tell, bool byTheModel)
{
    const bool held = m_loaded || !m_loadWaiters.empty() || !m_sessions.empty();
    m_loaded = false;
    m_endReason = reason;
    m_stopReason.clear();
    m_watchdog.reset();
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
    const std::vector<Completion<QString>> waiters = std::exchange(m_loadWaiters, {});
    for (const Completion<QString>& waiter : waiters)
        waiter.resolve(reason);
    const auto sessions = std::exchange(m_sessions, {});
    for (const auto& [id, weak] : sessions)
        if (const std::shared_ptr<RemoteSessionState> state = weak.lock())
            state->end(std::make_exception_ptr(EngineEnded(reason)));
    if (tell && held)
        emit ended(reason, byTheModel);
}

bool EngineProcess::awaitsAnswer() const
{
    if (!m_loadWaiters.empty())
        return true;
    for (const auto& [id, weak] : m_sessions) {
        const std::shared_ptr<RemoteSessionState> state = weak.lock();
        if (!state || state->ended)
            continue;
        std::lock_guard guard(state->lock);
        if (state->sent != state->drained || state->inputFinished)
            return true;
    }
    return false;
}

// While work is unanswered, the engine must keep answering: a load within kLoadSeconds, anything
// else within the hang time. One that does not is stopped, and counts as ended.
void EngineProcess::watch()
{
    if (m_watchdog || !m_process)
        return;
    m_lastHeard = m_clock.now();
    m_watchdog = m_clock.schedule(std::min(1.0, m_hangSeconds / 4), true, [this] {
        if (!m_process || !awaitsAnswer()) {
            m_watchdog.reset();
            return;
        }
        const bool loading = !m_loadWaiters.empty();
        const double limit = loading ? kLoadSeconds : m_hangSeconds;
        const double since = m_clock.now() - (loading ? std::max(m_loadStarted, m_lastHeard) : m_lastHeard);
        if (since < limit)
            return;
        m_stopReason = QStringLiteral("音声認識エンジンが %1 秒応答しないため停止しました").arg(QString::number(limit, 'f', 0));
        m_watchdog.reset();
        m_process->kill();
    });
}

} // namespace vel
