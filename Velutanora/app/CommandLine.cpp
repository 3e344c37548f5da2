#include "app/CommandLine.h"

#include "common/BoundedFile.h"
#include "recording/KeptAudio.h"

#include "common/Clock.h"
#include "common/Task.h"
#include "correction/GeminiService.h"
#include "dictation/ProcessAndPaste.h"
#include "dictation/DictationStack.h"
#include "platform/HeadlessDesktop.h"
#include "recording/AudioAccumulator.h"
#include "recording/DebugLog.h"
#include "recording/SpeechManager.h"
#include "recording/WavFileAudioInput.h"
#include "common/Logger.h"
#include "settings/AppSettings.h"
#include "settings/JsonFileStore.h"
#include "settings/OverlayStore.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"

#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QStringDecoder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QEventLoop>
#include <QNetworkAccessManager>

#include <cmath>
#include <unistd.h>

namespace vel {

namespace {

QJsonObject shortcutJson(const ShortcutKey& key)
{
    QJsonObject o;
    o.insert(QStringLiteral("keysym"), static_cast<qint64>(key.keysym));
    o.insert(QStringLiteral("modifiers"), static_cast<qint64>(key.modifiers));
    o.insert(QStringLiteral("display"), key.label());
    return o;
}

QString maskedKey(const QString& key)
{
    if (key.isEmpty())
        return {};
    return QStringLiteral("…") + key.right(4);
}

QString isoUtc(double referenceSeconds)
{
    const double unix = unixFromReferenceDate(referenceSeconds);
    const auto ms = static_cast<qint64>(std::floor(unix * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms).toUTC().toString(Qt::ISODate);
}


// One command's options, read against its table: a flag, or an option with a value, each at most
// once, and up to `positionals` plain arguments. `error` names the first argument that fits none.
struct Options {
    QMap<QString, QString> given; // a flag maps to an empty value
    QStringList positional;
    QString error;
    bool has(const char* name) const { return given.contains(QLatin1String(name)); }
    std::optional<QString> value(const char* name) const
    {
        return has(name) ? std::optional(given.value(QLatin1String(name))) : std::nullopt;
    }
};

Options readOptions(const QStringList& args, const QStringList& flags, const QStringList& valued, int positionals)
{
    Options options;
    for (qsizetype i = 0; i < args.size() && options.error.isEmpty(); ++i) {
        const QString& arg = args.at(i);
        if (options.given.contains(arg))
            options.error = arg;
        else if (flags.contains(arg))
            options.given.insert(arg, QString());
        else if (valued.contains(arg) && i + 1 < args.size())
            options.given.insert(arg, args.at(++i));
        else if (!arg.startsWith(QLatin1Char('-')) && options.positional.size() < positionals)
            options.positional << arg;
        else
            options.error = arg;
    }
    return options;
}

} // namespace

QString CommandLine::usageLine()
{
    return QStringLiteral("usage: velutanora [--autostart | --toggle | --cancel | --version | --help | --print-settings | "
                          "process [--mode instant|fast|quality] (--text TEXT | --file PATH) | "
                          "transcribe [--mode M] [--continuous] [--save-wav PATH] [--no-history] FILE.wav]");
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Velutanora — Japanese dictation for the Linux desktop (日本語音声入力)\n"
        "\n"
        "%1\n"
        "\n"
        "  (no argument)      start the program: a tray icon and the settings window\n"
        "  --autostart        start it in the tray only (what 「ログイン時に起動」 runs)\n"
        "  --toggle           start or stop a dictation in the running program, as the start\n"
        "                     shortcut does (what a compositor's key binding runs)\n"
        "  --cancel           cancel the dictation under way, as the cancel shortcut does\n"
        "  --version          print the version and exit\n"
        "  --help             print this help and exit\n"
        "  --print-settings   print the stored settings, history and usage as JSON\n"
        "  process            clean up (and, with an API key, correct) Japanese text; the result\n"
        "                     goes to standard output, status and log lines to standard error\n"
        "  transcribe         dictate a WAV file as if it were the microphone (on simulated time)\n"
        "                     and print each result; --continuous ends utterances at silences,\n"
        "                     --save-wav PATH keeps the audio sent to Gemini, --no-history\n"
        "                     records neither history nor usage\n")
        .arg(usageLine());
}

void CommandLine::write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int CommandLine::usageError(const QString& message)
{
    write(m_err, QStringLiteral("velutanora: %1\n%2\n").arg(message, usageLine()));
    return 2;
}

int CommandLine::run(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty()) {
        write(m_out, helpText());
        return 0;
    }
    const QString& command = args.first();
    if (args.size() == 1 && command == QLatin1String("--version")) {
        write(m_out, QStringLiteral("velutanora %1\n").arg(QStringLiteral(VELUTANORA_VERSION)));
        if (m_versionDetails)
            write(m_out, m_versionDetails() + QLatin1Char('\n'));
        return 0;
    }
    if (args.size() == 1 && (command == QLatin1String("--help") || command == QLatin1String("-h"))) {
        write(m_out, helpText());
        return 0;
    }
    if (args.size() == 1 && command == QLatin1String("--print-settings"))
        return printSettings();
    if (command == QLatin1String("process"))
        return process(args.mid(1));
    if (command == QLatin1String("transcribe"))
        return transcribe(args.mid(1));
    if (command == QLatin1String("--version") || command == QLatin1String("--help")
        || command == QLatin1String("--print-settings"))
        return usageError(QStringLiteral("%1 takes no arguments").arg(command));
    return usageError(QStringLiteral("unknown argument: %1").arg(command));
}

int CommandLine::process(const QStringList& args)
{
    const Options options = readOptions(args, {}, {"--mode", "--text", "--file"}, 0);
    if (!options.error.isEmpty() || (options.has("--text") && options.has("--file")))
        return usageError(QStringLiteral("bad argument to process: %1").arg(options.error.isEmpty() ? QStringLiteral("--file") : options.error));
    std::optional<CorrectionMode> mode;
    if (const auto raw = options.value("--mode"); raw && !(mode = correctionModeFromRaw(*raw)))
        return usageError(QStringLiteral("unknown mode: %1").arg(*raw));
    std::optional<QString> text = options.value("--text");
    const std::optional<QString> file = options.value("--file");
    if (!text && !file)
        return usageError(QStringLiteral("process needs --text TEXT or --file PATH"));
    if (file) {
        const BoundedRead read = readBoundedFile(*file, kMaxTextFileBytes);
        if (read.failure != BoundedRead::Failure::None) {
            write(m_err, QStringLiteral("velutanora: cannot read %1: %2\n").arg(*file, read.describe()));
            return 2;
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = decoder.decode(read.bytes);
        if (decoder.hasError()) {
            write(m_err, QStringLiteral("velutanora: %1 is not valid UTF-8\n").arg(*file));
            return 2;
        }
    }

    StreamLogger log(m_err);
    SystemClock clock;
    JsonFileStore store(JsonFileStore::defaultPath(), log);
    AppSettings settings(store);
    UsageTracker usage(store);
    GeminiService gemini(log, clock, [&settings] { return settings.geminiBaseUrl(); });
    PipelineProgress progress;
    progress.status = [&log](const QString& status) { log.line(status); };
    const CleanedText cleaned = runBlocking(cleanAndCorrect(*text, std::nullopt, false, mode.value_or(settings.correctionMode()),
                                                            settings, &gemini, &usage, progress, log, clock));
    if (!cleaned.correctionFailure.isEmpty())
        log.line(QStringLiteral("📋 [process] Gemini failed; the locally cleaned text is used"));
    const QString final = cleaned.finalText;
    if (!final.isEmpty())
        write(m_out, final + QLatin1Char('\n'));
    return 0;
}

int CommandLine::transcribe(const QStringList& args)
{
    const Options options = readOptions(args, {"--continuous", "--no-history"}, {"--mode", "--save-wav"}, 1);
    if (!options.error.isEmpty())
        return usageError(QStringLiteral("bad argument to transcribe: %1").arg(options.error));
    std::optional<CorrectionMode> mode;
    if (const auto raw = options.value("--mode"); raw && !(mode = correctionModeFromRaw(*raw)))
        return usageError(QStringLiteral("unknown mode: %1").arg(*raw));
    const bool continuous = options.has("--continuous");
    const bool noHistory = options.has("--no-history");
    const std::optional<QString> saveWav = options.value("--save-wav");
    const std::optional<QString> file = options.positional.isEmpty() ? std::nullopt : std::optional(options.positional.first());
    if (!file)
        return usageError(QStringLiteral("transcribe needs a WAV file"));
    WavFile wav;
    try {
        wav = WavFile::read(*file);
    } catch (const WavError& e) {
        write(m_err, QStringLiteral("velutanora: %1: %2\n").arg(*file, e.description()));
        return 2;
    }
    // Speech needs at least telephone quality; far outside it, resampling is only harm.
    if (wav.format.sampleRate < 8000 || wav.format.sampleRate > 384000) {
        write(m_err, QStringLiteral("velutanora: %1: a sample rate of %2 Hz is not speech audio (8000 to 384000 Hz)\n")
                         .arg(*file)
                         .arg(wav.format.sampleRate));
        return 2;
    }

    StreamLogger log(m_err);
    ManualClock clock(SystemClock().now());
    JsonFileStore store(JsonFileStore::defaultPath(), log);
    AppSettings settings(store);
    RecordingHistory history(store, clock);
    UsageTracker usage(store);
    // The run's own choices; the stored settings stay as they are.
    MemoryOverlayStore overlay(store);
    AppSettings runSettings(overlay);
    if (mode)
        runSettings.setCorrectionMode(*mode);
    if (continuous && runSettings.continuousMode() == ContinuousMode::Off)
        runSettings.setContinuousMode(ContinuousMode::PasteOnly);
    if (!continuous)
        runSettings.setContinuousMode(ContinuousMode::Off);

    // The simulated clock stands still while an answer is awaited: the request's own deadline
    // runs in real time.
    SystemClock networkClock;
    GeminiService gemini(log, networkClock, [&settings] { return settings.geminiBaseUrl(); });
    StreamPasteboard pasteboard(m_out);
    NoSyntheticInput input;
    EmptyWorkspace workspace;
    NoPanel panel;
    DebugLog debugLog;
    if (settings.debugLogging())
        log.setContentSink([&debugLog](const QString& line) { debugLog.append(line + QLatin1Char('\n')); });
    QNetworkAccessManager network;
    std::unique_ptr<SpeechRecognizer> recognizer =
        m_recognizers ? m_recognizers(log, settings, network) : std::make_unique<NoSpeechRecognizer>();
    // The model is used when it is installed; the command never downloads it.
    const ModelStatus model = runBlocking(recognizer->modelStatus(SpeechManager::kLocale));
    if (model != ModelStatus::Installed)
        log.line(QStringLiteral("📝 [transcribe] no local Japanese model: only Gemini will hear the audio"));
    WavFileAudioInput microphone(clock, wav);
    KeptAudio kept;
    DictationStack stack({log, clock, runSettings, *recognizer, microphone, debugLog, pasteboard, input, workspace, panel,
                          &gemini, noHistory ? nullptr : &usage, noHistory ? nullptr : &history, LinearConverter::factory(),
                          nullptr, noHistory ? nullptr : &kept});
    Dictation& dictation = stack.dictation;
    const DictationState& state = dictation.state();
    QObject::connect(&state, &DictationState::statusMessageChanged, [&] { log.line(state.statusMessage()); });
    int savedCount = 0;
    QObject::connect(&dictation, &Dictation::wavBuilt, [&](const QByteArray& bytes) {
        if (!saveWav)
            return;
        ++savedCount;
        QString path = *saveWav;
        if (savedCount > 1) {
            const QString stem = path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive) ? path.chopped(4) : path;
            path = stem + QStringLiteral("-%1.wav").arg(savedCount);
        }
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            log.line(QStringLiteral("⚠️ [transcribe] cannot write %1: %2").arg(path, out.errorString()));
    });

    // Simulated time runs as fast as the work allows; it stands still while a real answer
    // (Gemini) is awaited, so that time-outs keep their meaning.
    const double limit = clock.now() + wav.durationSeconds() + 600.0;
    int stalled = 0;
    auto step = [&]() -> bool {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (gemini.hasRequestsInFlight() || stack.speech.isRecognizerBusy()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            return true;
        }
        if (clock.now() < limit && clock.advanceToNextTimer()) {
            stalled = 0;
            return true;
        }
        // Nothing scheduled: work may still come from another thread (the recogniser's last
        // results). Wait for it a while, in real time.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return ++stalled < 1500;
    };
    auto idle = [&] {
        return !state.isRecording() && !dictation.isProcessing()
               && (!dictation.processingTask().isValid() || dictation.processingTask().isFinished());
    };

    dictation.toggle(nullptr);
    while (!state.isRecording() && !state.statusMessage().startsWith(QStringLiteral("⚠️")) && step()) {
    }
    if (!state.isRecording()) {
        write(m_err, QStringLiteral("velutanora: could not start: %1\n").arg(state.statusMessage()));
        return 1;
    }
    // Play the whole file; in continuous mode also the silence that ends its last utterance.
    const double tail = continuous ? runSettings.continuousSilenceSeconds() + 1.5 : 0.0;
    while (!microphone.isAtEnd() && step()) {
    }
    const double end = clock.now() + tail;
    while (clock.now() < end && step()) {
    }
    // Stop as a second press would, once no utterance is between stop and restart.
    while (!(state.isRecording() && !dictation.isProcessing()) && !idle() && step()) {
    }
    if (state.isRecording())
        dictation.toggle(nullptr);
    while (!idle() && step()) {
    }
    return 0;
}

int CommandLine::printSettings()
{
    StreamLogger log(m_err);
    SystemClock clock;
    JsonFileStore store(JsonFileStore::defaultPath(), log);
    AppSettings settings(store);
    RecordingHistory history(store, clock);
    UsageTracker usage(store);

    QJsonObject o;
    o.insert(QStringLiteral("geminiApiKey"), maskedKey(settings.geminiApiKey()));
    o.insert(QStringLiteral("removeFillers"), settings.removeFillers());
    QJsonArray dictionary;
    for (const DictionaryEntry& e : settings.dictionaryEntries()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("id"), uuidText(e.id));
        entry.insert(QStringLiteral("term"), e.term);
        entry.insert(QStringLiteral("reading"), e.reading);
        dictionary.append(entry);
    }
    o.insert(QStringLiteral("dictionaryEntries"), dictionary);
    o.insert(QStringLiteral("startShortcut"), shortcutJson(settings.startShortcut()));
    o.insert(QStringLiteral("cancelShortcut"), shortcutJson(settings.cancelShortcut()));
    o.insert(QStringLiteral("appearanceMode"), rawValue(settings.appearanceMode()));
    o.insert(QStringLiteral("userOccupation"), settings.userOccupation());
    o.insert(QStringLiteral("correctionMode"), rawValue(settings.correctionMode()));
    o.insert(QStringLiteral("assumePoorDiction"), settings.assumePoorDiction());
    o.insert(QStringLiteral("continuousMode"), rawValue(settings.continuousMode()));
    o.insert(QStringLiteral("continuousSilenceSeconds"), settings.continuousSilenceSeconds());
    o.insert(QStringLiteral("stealthMode"), settings.stealthMode());
    o.insert(QStringLiteral("contextualStrings"), QJsonArray::fromStringList(settings.contextualStrings()));
    o.insert(QStringLiteral("microphoneId"), settings.microphoneId());
    o.insert(QStringLiteral("recognizerModel"), settings.recognizerModel());
    o.insert(QStringLiteral("recognizerThreads"), settings.recognizerThreads());
    QJsonArray entries;
    for (const RecordingEntry& e : history.entries()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("id"), uuidText(e.id));
        entry.insert(QStringLiteral("text"), e.text);
        if (e.originalText)
            entry.insert(QStringLiteral("originalText"), *e.originalText);
        entry.insert(QStringLiteral("date"), isoUtc(e.date));
        entries.append(entry);
    }
    o.insert(QStringLiteral("history"), entries);
    QJsonObject counters;
    counters.insert(QStringLiteral("totalRequests"), usage.totalRequests());
    counters.insert(QStringLiteral("totalInputTokens"), usage.totalInputTokens());
    counters.insert(QStringLiteral("totalOutputTokens"), usage.totalOutputTokens());
    counters.insert(QStringLiteral("totalThinkingTokens"), usage.totalThinkingTokens());
    counters.insert(QStringLiteral("estimatedCost"), usage.estimatedCost());
    o.insert(QStringLiteral("usage"), counters);

    write(m_out, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
    return 0;
}

} // namespace vel
