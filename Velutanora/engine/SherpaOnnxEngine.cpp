#include "engine/SherpaOnnxEngine.h"

#include "common/AsyncQueue.h"
#include "common/BoundedFile.h"
#include "recording/AudioConverter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace vel {

namespace {

constexpr int kSampleRate = 16000;

// The ONNX file of a role in a folder ("model", "encoder"...), the int8 one first; empty when
// there is none. Published transducers name theirs after their training ("encoder-epoch-99-avg-1").
QString onnxFile(const QString& directory, const QString& role)
{
    const QDir folder(directory);
    const QStringList found = folder.entryList({role + QStringLiteral("*.onnx")}, QDir::Files, QDir::Name);
    for (const QString& name : found)
        if (name.endsWith(QLatin1String(".int8.onnx")))
            return folder.filePath(name);
    return found.isEmpty() ? QString() : folder.filePath(found.first());
}

// A model's tokens.txt is kilobytes and a decoder megabytes; a pipe or a device in their place
// would block the load for ever, and a huge file take gigabytes.
constexpr qint64 kMaxTokensBytes = 8 << 20;
constexpr qint64 kMaxDecoderBytes = 256 << 20;

// The tokens of a tokens.txt ("token id" per line); none when it is not a file of a sane size.
QSet<QString> readTokens(const QString& path)
{
    QSet<QString> tokens;
    const BoundedRead read = readBoundedFile(path, kMaxTokensBytes);
    for (const QByteArray& line : read.bytes.split('\n'))
        if (!line.trimmed().isEmpty())
            tokens.insert(QString::fromUtf8(line.trimmed().split(' ').value(0)));
    return tokens;
}

// An ONNX file is a protocol buffer whose first field is the IR version (tag 0x08).
QString onnxFailure(const QString& file)
{
    const QFileInfo info(file);
    if (!info.isFile())
        return QStringLiteral("%1 は通常のファイルではありません").arg(info.fileName());
    QFile f(file);
    char first = 0;
    if (!f.open(QIODevice::ReadOnly) || f.read(&first, 1) != 1 || first != 0x08)
        return QStringLiteral("%1 は ONNX モデルではありません").arg(info.fileName());
    return {};
}

// The words a character model can spell: the library splits Japanese into characters, each of
// which must be a token, and looks up a run of Latin letters or digits whole; it logs every word
// it cannot spell at every decode.
QByteArray hotwordsFor(const QStringList& words, const QSet<QString>& tokens)
{
    QStringList spelled;
    for (const QString& word : words) {
        const QString w = word.trimmed();
        bool ok = !w.isEmpty();
        for (qsizetype i = 0; ok && i < w.size(); ++i) {
            const bool pair = w[i].isHighSurrogate() && i + 1 < w.size();
            const QString c = pair ? w.mid(i, 2) : w.mid(i, 1);
            ok = c[0].unicode() >= 0x80 && tokens.contains(c);
            i += pair ? 1 : 0;
        }
        if (ok)
            spelled << w;
    }
    return spelled.join(QLatin1Char('\n')).toUtf8();
}

// The files a model of the engine needs.
QStringList rolesOf(bool transducer)
{
    if (transducer)
        return {QStringLiteral("encoder"), QStringLiteral("decoder"), QStringLiteral("joiner")};
    return {QStringLiteral("model")};
}

// The library ends the process when tokens.txt has no blank; so it is read here first.
bool hasBlank(const QSet<QString>& tokens)
{
    return tokens.contains(QStringLiteral("<blk>")) || tokens.contains(QStringLiteral("<blank>"))
           || tokens.contains(QStringLiteral("<eps>"));
}

// Why a folder is not a model of the engine sherpa-onnx can take (empty: it may be); the library
// itself would end the process on some of these.
QString folderFailureWith(bool transducer, const QString& directory, const QSet<QString>& tokenSet)
{
    const QString tokens = directory + QStringLiteral("/tokens.txt");
    for (const QString& role : rolesOf(transducer)) {
        const QString file = onnxFile(directory, role);
        if (file.isEmpty())
            return QStringLiteral("%1 に %2.int8.onnx も %2.onnx もありません").arg(directory, role);
        if (const QString why = onnxFailure(file); !why.isEmpty())
            return why;
    }
    if (!QFileInfo::exists(tokens))
        return QStringLiteral("%1 に tokens.txt がありません").arg(directory);
    if (const BoundedRead read = readBoundedFile(tokens, kMaxTokensBytes); read.failure != BoundedRead::Failure::None) {
        const QString why = read.failure == BoundedRead::Failure::NotRegular ? QStringLiteral("通常のファイルではありません")
                            : read.failure == BoundedRead::Failure::TooLarge
                                ? QStringLiteral("%1 バイトは tokens.txt として大きすぎます").arg(read.size)
                                : read.describe();
        return QStringLiteral("%1 を読めません（%2）").arg(tokens, why);
    }
    if (!hasBlank(tokenSet))
        return QStringLiteral("%1 はこのモデルの tokens.txt ではありません（空白記号がありません）").arg(tokens);
    // The library ends the process when a transducer's decoder lacks these; a decoder is small.
    if (transducer) {
        const QString decoder = onnxFile(directory, QStringLiteral("decoder"));
        const QByteArray bytes = readBoundedFile(decoder, kMaxDecoderBytes).bytes;
        for (const char* key : {"context_size", "vocab_size"})
            if (!bytes.contains(key))
                return QStringLiteral("%1 にメタデータ %2 がありません").arg(decoder, QLatin1String(key));
    }
    return {};
}

} // namespace

// What a session's worker shares with the main thread and outlives the session: a cancelled
// dictation does not wait for a decode under way, whose result is then dropped.
struct SherpaOnnxSessionState {
    std::shared_ptr<SherpaOnnxApi> api;
    std::shared_ptr<const sherpa::Recognizer> recognizer;
    QByteArray hotwords; // one per line; empty: none
    std::mutex lock;
    std::condition_variable wake;
    std::vector<float> inbox; // 16 kHz mono, not yet taken by the worker
    bool inputFinished = false;
    std::atomic<bool> abandoned = false;
    bool working = false;
    std::atomic<bool> exited = false;
    // Main thread only.
    AsyncQueue<RecognitionResult> results;
    Completion<Unit> done;
    bool ended = false;

    QString decode(const float* audio, size_t count)
    {
        const sherpa::Stream* stream = hotwords.isEmpty()
                                           ? api->createStream(recognizer.get())
                                           : api->createStreamWithHotwords(recognizer.get(), hotwords.constData());
        api->acceptWaveform(stream, kSampleRate, audio, static_cast<int32_t>(count));
        api->decode(recognizer.get(), stream);
        const sherpa::Result* result = api->result(stream);
        const QString text = result && result->text ? QString::fromUtf8(result->text).trimmed() : QString();
        if (result)
            api->destroyResult(result);
        api->destroyStream(stream);
        return text;
    }
};

namespace {

void post(const std::shared_ptr<SherpaOnnxSessionState>& state, std::optional<RecognitionResult> result)
{
    postToMainLoop([state, result] {
        if (state->abandoned)
            return;
        if (result) {
            state->results.push(*result);
            return;
        }
        state->ended = true;
        state->results.finish();
        state->done.resolve(Unit{});
    });
}

// Finds the pauses that end utterances, on 10 ms frames: a segment closes half-way into a quiet
// stretch of kPauseSeconds after speech, or at kMaxSegmentSeconds, so that no decode is longer.
struct Segmenter {
    static constexpr size_t kFrame = kSampleRate / 100;
    static constexpr float kQuietRms = 0.01f;
    static constexpr size_t kPause = size_t(0.5 * kSampleRate);
    static constexpr size_t kMaxSegment = size_t(30 * kSampleRate);

    size_t scanned = 0; // samples looked at, from the start of the kept audio
    size_t quietSince = 0;
    bool quiet = true;
    bool heardSpeech = false;

    // The end of the next segment within audio[0, size), or 0 when none has ended yet.
    size_t nextCut(const float* audio, size_t size)
    {
        for (; scanned + kFrame <= size; scanned += kFrame) {
            double sum = 0;
            for (size_t i = 0; i < kFrame; ++i)
                sum += double(audio[scanned + i]) * audio[scanned + i];
            const bool silent = std::sqrt(sum / kFrame) < kQuietRms;
            if (!silent) {
                heardSpeech = true;
                quiet = false;
            } else if (!quiet) {
                quiet = true;
                quietSince = scanned;
            }
            const size_t end = scanned + kFrame;
            const bool pauseEnded = heardSpeech && quiet && end - quietSince >= kPause;
            if (pauseEnded || end >= kMaxSegment) {
                scanned = end;
                return pauseEnded ? quietSince + kPause / 2 : end;
            }
        }
        return 0;
    }
    // The kept audio now starts at the cut.
    void restartAt(size_t cut)
    {
        scanned -= cut;
        quietSince = quiet ? cut > quietSince ? 0 : quietSince - cut : 0;
        heardSpeech = false;
    }
};

void work(const std::shared_ptr<SherpaOnnxSessionState>& state)
{
    struct Exit {
        SherpaOnnxSessionState& s;
        ~Exit() { s.exited = true; }
    } exit{*state};
    Segmenter segmenter;
    QString lastVolatile;
    size_t volatileUpTo = 0; // the part of the utterance under way that the volatile text covers
    std::vector<float> audio; // the utterance under way: what follows the last cut
    for (;;) {
        bool final = false;
        {
            std::unique_lock lock(state->lock);
            // A quarter of a second at a time, to find the pauses soon after they happen.
            state->wake.wait(lock, [&] {
                return state->abandoned || state->inputFinished || state->inbox.size() >= size_t(0.25 * kSampleRate);
            });
            if (state->abandoned)
                return;
            final = state->inputFinished;
            audio.insert(audio.end(), state->inbox.begin(), state->inbox.end());
            state->inbox.clear();
            state->working = true;
        }
        // Each finished utterance is decoded once, as a final text, and its audio let go.
        size_t consumed = 0;
        while (const size_t cut = segmenter.nextCut(audio.data() + consumed, audio.size() - consumed)) {
            const QString text = state->decode(audio.data() + consumed, cut);
            if (!text.isEmpty())
                post(state, RecognitionResult{text, true});
            segmenter.restartAt(cut);
            consumed += cut;
            lastVolatile.clear();
            volatileUpTo = 0;
        }
        audio.erase(audio.begin(), audio.begin() + consumed);
        volatileUpTo = volatileUpTo > consumed ? volatileUpTo - consumed : 0;
        // The utterance under way: all of it at the stop, otherwise at most every kVolatileSeconds.
        const bool volatileDue = audio.size() >= volatileUpTo + size_t(SherpaOnnxEngine::kVolatileSeconds * kSampleRate);
        const QString text =
            audio.size() < Segmenter::kFrame || !(final || volatileDue) ? QString() : state->decode(audio.data(), audio.size());
        if (volatileDue)
            volatileUpTo = audio.size();
        {
            std::lock_guard guard(state->lock);
            state->working = false;
        }
        if (final) {
            if (!text.isEmpty())
                post(state, RecognitionResult{text, true});
            post(state, std::nullopt);
            return;
        }
        if (!text.isEmpty() && text != lastVolatile) {
            lastVolatile = text;
            post(state, RecognitionResult{text, false});
        }
    }
}

void abandon(SherpaOnnxSessionState& state)
{
    {
        std::lock_guard guard(state.lock);
        state.abandoned = true;
    }
    state.wake.notify_all();
}

class SherpaOnnxSession final : public RecognizerSession {
public:
    explicit SherpaOnnxSession(std::shared_ptr<SherpaOnnxSessionState> state) : m_state(std::move(state)) {}
    ~SherpaOnnxSession() override { abandon(*m_state); }

    void appendAudio(const AudioBuffer& buffer) override
    {
        std::vector<float> mono;
        mixToMono(buffer, mono);
        {
            std::lock_guard guard(m_state->lock);
            if (m_state->inputFinished)
                return;
            m_state->inbox.insert(m_state->inbox.end(), mono.begin(), mono.end());
        }
        m_state->wake.notify_one();
    }
    void finishInput() override
    {
        {
            std::lock_guard guard(m_state->lock);
            m_state->inputFinished = true;
        }
        m_state->wake.notify_one();
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
        return m_state->working || (m_state->inputFinished && !m_state->ended);
    }

private:
    std::shared_ptr<SherpaOnnxSessionState> m_state;
};

} // namespace

// A worker may still be decoding for a cancelled dictation: it is waited for here, not at the
// cancel, and never left running into the process's exit.
SherpaOnnxEngine::~SherpaOnnxEngine()
{
    for (Worker& w : m_workers) {
        abandon(*w.state);
        w.thread.join();
    }
}

QString SherpaOnnxEngine::folderFailure(bool transducer, const QString& directory)
{
    return folderFailureWith(transducer, directory, readTokens(directory + QStringLiteral("/tokens.txt")));
}

QString SherpaOnnxEngine::load(const QString& directory, int threads)
{
    m_recognizer.reset();
    const QString tokens = directory + QStringLiteral("/tokens.txt");
    auto tokenSet = std::make_shared<const QSet<QString>>(readTokens(tokens));
    if (const QString failure = folderFailureWith(m_transducer, directory, *tokenSet); !failure.isEmpty())
        return failure;
    QStringList files;
    for (const QString& role : rolesOf(m_transducer))
        files << onnxFile(directory, role);
    QList<QByteArray> paths;
    for (const QString& file : files)
        paths << QFile::encodeName(file);
    const QByteArray tokensPath = QFile::encodeName(tokens);
    sherpa::RecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.feat = {kSampleRate, 80};
    config.model.tokens = tokensPath.constData();
    config.model.numThreads = threads;
    config.model.provider = "cpu";
    if (m_transducer) {
        config.model.transducer = {paths[0].constData(), paths[1].constData(), paths[2].constData()};
        // Named, the type is not read from the encoder's metadata: the library ends the
        // process when that is missing.
        config.model.modelType = "transducer";
        // The dictionary's words bias the search (hotwords); only a beam search takes them.
        config.model.modelingUnit = "cjkchar";
        config.decodingMethod = "modified_beam_search";
        config.maxActivePaths = 4;
        config.hotwordsScore = 1.5f;
    } else {
        config.model.nemoCtc.model = paths[0].constData();
        config.decodingMethod = "greedy_search";
    }
    const sherpa::Recognizer* recognizer = nullptr;
    QString error;
    try {
        recognizer = m_api->createRecognizer(&config);
        if (!recognizer)
            error = QStringLiteral("sherpa-onnx が設定を受け付けませんでした");
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what()); // onnxruntime's refusal of the file
    }
    if (!recognizer) {
        // The library does not say which file it refused.
        QStringList names;
        for (const QString& file : files)
            names << QFileInfo(file).fileName();
        return QStringLiteral("%1 を読み込めません: %2")
            .arg(names.size() == 1 ? names.first() : names.join(QStringLiteral("、")) + QStringLiteral(" のいずれか"), error);
    }
    if (m_transducer)
        m_tokens = tokenSet;
    auto api = m_api;
    m_recognizer = std::shared_ptr<const sherpa::Recognizer>(recognizer, [api](const sherpa::Recognizer* r) { api->destroyRecognizer(r); });
    return {};
}

std::shared_ptr<RecognizerSession> SherpaOnnxEngine::makeSession(const QStringList& words)
{
    if (!m_recognizer)
        return nullptr;
    std::erase_if(m_workers, [](Worker& w) {
        if (!w.state->exited)
            return false;
        w.thread.join();
        return true;
    });
    auto state = std::make_shared<SherpaOnnxSessionState>();
    state->api = m_api;
    state->recognizer = m_recognizer;
    if (m_tokens)
        state->hotwords = hotwordsFor(words, *m_tokens);
    m_workers.push_back({std::thread([state] { work(state); }), state});
    return std::make_shared<SherpaOnnxSession>(state);
}

} // namespace vel
