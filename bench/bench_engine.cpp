// The sherpa-onnx engine with a real model, in its engine process as the program runs it: the
// real-time factor of decoding a recording, the time from the stop to the final text when the
// audio came in real time, and the engine process's resident memory with the model loaded. The model is the installed Parakeet, or the folder named by
// VELUTANORA_BENCH_MODEL; without one (or without the library) it says it skipped. The speech
// is the test recordings, one after another with short pauses, repeated to the length asked.
#include "audio/ModelRecognizer.h"
#include "common/Clock.h"
#include "common/Logger.h"
#include "recording/WavFile.h"
#include "settings/AppSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>

#include <cstdio>

using namespace vel;

namespace {

// Kilobytes of a /proc/PID/status line (VmRSS, VmHWM).
long statusKilobytes(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<int>(qstrlen(field)) + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

QByteArray speech(double seconds)
{
    QByteArray once;
    const QByteArray pause(static_cast<qsizetype>(0.6 * 16000) * 2, '\0');
    for (int i = 1; i <= 4; ++i)
        once += WavFile::read(QStringLiteral(BENCH_SPEECH_DIR "/ja_%1.wav").arg(i)).samples + pause;
    QByteArray out;
    const qsizetype bytes = static_cast<qsizetype>(seconds * 16000) * 2;
    while (out.size() < bytes)
        out += once;
    return out.left(bytes);
}

struct Run {
    double seconds = 0;     // from the first audio to the final text
    double afterStop = 0;   // from the end of the input to the final text
    QString text;
};

// Feeds the audio in chunks of 100 ms, paced at real time or all at once, and waits for the end.
Task<Run> dictate(ModelRecognizer& recognizer, QByteArray pcm, bool realTime)
{
    SystemClock clock;
    std::shared_ptr<RecognizerSession> session = recognizer.makeSession({}, {}, AudioFormat::int16Mono16k());
    Run run;
    QElapsedTimer total;
    total.start();
    const qsizetype chunk = 1600 * 2;
    for (qsizetype at = 0; at < pcm.size(); at += chunk) {
        session->appendAudio(AudioBuffer{AudioFormat::int16Mono16k(), pcm.mid(at, chunk)});
        if (realTime)
            co_await sleepFor(clock, 0.1);
    }
    QElapsedTimer stop;
    stop.start();
    session->finishInput();
    for (;;) {
        const std::optional<RecognitionResult> result = co_await session->nextResult();
        if (!result)
            break;
        if (result->isFinal)
            run.text += result->text;
    }
    run.afterStop = static_cast<double>(stop.nsecsElapsed()) / 1e9;
    run.seconds = static_cast<double>(total.nsecsElapsed()) / 1e9;
    co_return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString folder = qEnvironmentVariable("VELUTANORA_BENCH_MODEL");
    for (const char* id : {"parakeet-ja", "zipformer-ja"})
        if (folder.isEmpty() && QFileInfo(ModelLocation::forModel(QLatin1String(id), {}, {}).directory).isDir())
            folder = ModelLocation::forModel(QLatin1String(id), {}, {}).directory;
    if (!QFileInfo(folder).isDir()) {
        std::printf("engine: skipped (no sherpa-onnx model installed; install one in the card, or set "
                    "VELUTANORA_BENCH_MODEL to a NeMo CTC or transducer folder)\n");
        return 0;
    }
    const RecognitionEngine engine = QDir(folder).entryList({QStringLiteral("encoder*.onnx")}).isEmpty()
                                         ? RecognitionEngine::SherpaOnnxNemoCtc
                                         : RecognitionEngine::SherpaOnnxTransducer;
    std::FILE* devnull = std::fopen("/dev/null", "w");
    StreamLogger log(devnull);
    QNetworkAccessManager network;
    const int threads = AppSettings::defaultRecognizerThreads();
    ModelRecognizer recognizer(log, engine, EngineLaunch{QStringLiteral(BENCH_ENGINE), {}}, {folder, QString()}, network, threads);
    if (!recognizer.hasLibrary()) {
        std::printf("engine: skipped (%s)\n", qPrintable(recognizer.libraryFailure()));
        return 0;
    }
    QElapsedTimer loading;
    loading.start();
    const QString failure = runBlocking(recognizer.loadModel(folder));
    if (!failure.isEmpty()) {
        std::printf("engine: skipped (%s)\n", qPrintable(failure));
        return 0;
    }
    const qint64 pid = recognizer.engineProcess().processId();
    std::printf("model %s, %d threads: loaded in %.2f s, engine process resident memory %.0f MB\n",
                qPrintable(QFileInfo(folder).fileName()), threads, static_cast<double>(loading.nsecsElapsed()) / 1e9,
                static_cast<double>(statusKilobytes(pid, "VmRSS:")) / 1024.0);
    for (const double seconds : {5.0, 10.0, 30.0}) {
        const QByteArray pcm = speech(seconds);
        const Run offline = runBlocking(dictate(recognizer, pcm, false));
        const Run live = runBlocking(dictate(recognizer, pcm, true));
        std::printf("%2.0f s of speech: real-time factor %.3f (goal 0.1); stop to final text %.2f s when spoken "
                    "(goal 1 s for 10 s)\n",
                    seconds, offline.seconds / seconds, live.afterStop);
    }
    std::printf("engine process peak resident memory %.0f MB\n", static_cast<double>(statusKilobytes(pid, "VmHWM:")) / 1024.0);
    return 0;
}
