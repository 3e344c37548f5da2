#include "correction/GeminiService.h"

#include "common/Clock.h"
#include "common/Logger.h"
#include "common/TransportError.h"
#include "correction/CorrectionPrompts.h"
#include "correction/TextFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QTextBoundaryFinder>
#include <QPointer>
#include <QStringDecoder>

namespace vel {

namespace {

QString geminiDescription(GeminiError::Kind kind, const QString& message)
{
    switch (kind) {
    case GeminiError::Kind::NetworkError: return QStringLiteral("ネットワークエラー: ") + message;
    case GeminiError::Kind::ApiError: return QStringLiteral("APIエラー: ") + message;
    case GeminiError::Kind::MissingApiKey: return QStringLiteral("Gemini APIキーが設定されていません。");
    case GeminiError::Kind::InvalidUrl: return QStringLiteral("無効なURLです。");
    case GeminiError::Kind::RateLimited:
        return QStringLiteral("APIレート制限に達しました。しばらく待ってから再試行してください。");
    case GeminiError::Kind::EmptyResponse: return QStringLiteral("APIからの応答が空です。");
    }
    return {};
}


// The first n user-perceived characters; the rest of the text is never walked.
QString prefixCharacters(const QString& text, int n)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int i = 0; i < n && end >= 0 && end < text.size(); ++i)
        end = finder.toNextBoundary();
    return end < 0 ? text : text.left(end);
}

QString bodyText(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body);
    if (decoder.hasError())
        return QStringLiteral("(読み取り不可)");
    return text;
}

// At most `limit` bytes of UTF-8, cut before a character that would not fit whole.
QByteArray utf8Prefix(const QByteArray& bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    while (end > 0 && (static_cast<unsigned char>(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

} // namespace

QString GeminiService::errorSentence(int status, const QByteArray& body)
{
    // Google's error body: {"error": {"status": "INVALID_ARGUMENT", "details": [{"reason": "API_KEY_INVALID"}]}}.
    const QJsonObject error = QJsonDocument::fromJson(body).object().value(QStringLiteral("error")).toObject();
    const QString state = error.value(QStringLiteral("status")).toString();
    QString reason;
    for (const QJsonValue& detail : error.value(QStringLiteral("details")).toArray())
        if (const QString r = detail.toObject().value(QStringLiteral("reason")).toString(); !r.isEmpty())
            reason = r;
    const QString code = QString::number(status);
    if (reason == QLatin1String("API_KEY_INVALID") || status == 401)
        return QStringLiteral("APIキーが無効です（%1）。設定の「Gemini APIキー」を確かめてください").arg(code);
    if (reason == QLatin1String("API_KEY_SERVICE_BLOCKED") || state == QLatin1String("PERMISSION_DENIED") || status == 403)
        return QStringLiteral("このAPIキーでは Gemini API を使えません（%1）").arg(code);
    if (state == QLatin1String("FAILED_PRECONDITION"))
        return QStringLiteral("この地域やアカウントでは Gemini API を使えません（%1）").arg(code);
    if (status == 400)
        return QStringLiteral("Gemini がリクエストを受け付けませんでした（400）");
    if (status == 404)
        return QStringLiteral("Gemini のモデルが見つかりません（404）");
    if (status >= 500 && status <= 599)
        return QStringLiteral("Gemini のサーバーで障害が起きています（%1）。しばらくしてから再試行してください").arg(code);
    return QStringLiteral("Gemini から予期しない応答がありました（%1）").arg(code);
}

GeminiError::GeminiError(Kind kind, const QString& message) : Error(geminiDescription(kind, message)), m_kind(kind) {}

GeminiService::GeminiService(Logger& log, Clock& clock, std::function<QString()> baseUrl, QObject* parent)
    : QObject(parent), m_log(log), m_clock(clock), m_baseUrl(std::move(baseUrl))
{
}

QUrl GeminiService::buildUrl(bool withMethod) const
{
    QString base = m_baseUrl ? m_baseUrl() : QString();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + QStringLiteral("/v1beta/models/gemini-2.5-flash")
                       + (withMethod ? QStringLiteral(":generateContent") : QString()),
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        throw GeminiError(GeminiError::Kind::InvalidUrl);
    return url;
}

QNetworkRequest GeminiService::keyedRequest(const QUrl& url, const QString& apiKey)
{
    // Printable ASCII only: a line break would start a header of its own.
    for (const QChar c : apiKey)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            throw GeminiError(GeminiError::Kind::ApiError, QStringLiteral("APIキーに使えない文字が含まれています"));
    QNetworkRequest request(url);
    request.setRawHeader("x-goog-api-key", apiKey.toLatin1());
    // A redirect would resend the key and the recording to wherever it points: it is an answer
    // like any other status, never followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}

void GeminiService::warmConnection(const QString& apiKey)
{
    if (apiKey.isEmpty())
        return;
    QNetworkRequest request;
    try {
        request = keyedRequest(buildUrl(false), apiKey);
    } catch (const GeminiError&) {
        return;
    }
    request.setTransferTimeout(kWarmUpTimeoutMs);
    QNetworkReply* reply = m_network.get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        m_log.line(QStringLiteral("🌐 [GeminiService] connection warm-up complete"));
        reply->deleteLater();
    });
}

Task<QString> GeminiService::checkKey(QString apiKey)
{
    if (apiKey.isEmpty())
        co_return GeminiError(GeminiError::Kind::MissingApiKey).description();
    QNetworkRequest request;
    try {
        request = keyedRequest(buildUrl(false), apiKey);
    } catch (const GeminiError& e) {
        co_return e.description();
    }
    request.setTransferTimeout(kWarmUpTimeoutMs * 2);
    QPointer<QNetworkReply> reply = m_network.get(request);
    Completion<Unit> done;
    connect(reply, &QNetworkReply::finished, this, [done] { done.resolve(Unit{}); });
    done.setOnCancel([reply] {
        if (reply)
            reply->abort();
    });
    co_await done;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const QByteArray body = reply->read(kLoggedErrorBytes);
    reply->deleteLater();
    if (status == 200)
        co_return QString();
    if (status == 0)
        co_return TransportError(TransportError::kindFor(error)).description();
    co_return errorSentence(status, body);
}

Task<void> GeminiService::acquireSlot()
{
    if (m_inFlight < kMaxConnections) {
        ++m_inFlight;
        co_return;
    }
    Completion<Unit> turn;
    m_waiting.push_back(turn);
    turn.setOnCancel([turn] { turn.reject(std::make_exception_ptr(TransportError(TransportError::Kind::Cancelled))); });
    co_await turn; // the releasing request hands its slot over
}

void GeminiService::releaseSlot()
{
    while (!m_waiting.empty()) {
        Completion<Unit> next = m_waiting.front();
        m_waiting.pop_front();
        if (!next.isDone()) {
            next.resolve(Unit{});
            return;
        }
    }
    --m_inFlight;
}

Task<GeminiService::HttpAnswer> GeminiService::post(QUrl url, QString apiKey, QByteArray body, int idleTimeoutMs)
{
    QNetworkRequest request = keyedRequest(url, apiKey);
    co_await acquireSlot();
    struct SlotRelease {
        GeminiService* service;
        ~SlotRelease() { service->releaseSlot(); }
    } release{this};

    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(idleTimeoutMs);
    QPointer<QNetworkReply> reply = m_network.post(request, body);

    auto received = std::make_shared<QByteArray>();
    Completion<Unit> done;
    connect(reply, &QNetworkReply::finished, this, [done] { done.resolve(Unit{}); });
    auto cancelled = std::make_shared<bool>(false);
    auto wholeTransferTimedOut = std::make_shared<bool>(false);
    auto tooLarge = std::make_shared<bool>(false);
    // Read as it arrives, so that an oversized answer is cut off instead of buffered whole.
    const auto take = [reply, tooLarge, received] {
        if (!reply || *tooLarge)
            return;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > kMaxAnswerBytes || received->size() + reply->bytesAvailable() > kMaxAnswerBytes) {
            *tooLarge = true;
            reply->abort();
            return;
        }
        received->append(reply->readAll());
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, take);
    connect(reply, &QNetworkReply::readyRead, this, take);
    done.setOnCancel([reply, cancelled] {
        *cancelled = true;
        if (reply)
            reply->abort();
    });
    auto wholeTransfer = m_clock.schedule(kWholeTransferSeconds, false, [reply, wholeTransferTimedOut] {
        *wholeTransferTimedOut = true;
        if (reply)
            reply->abort();
    });
    co_await done;
    wholeTransfer.reset();
    take();

    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    reply->disconnect(this);
    reply->deleteLater();
    HttpAnswer answer;
    answer.body = std::move(*received);

    if (*cancelled)
        throw TransportError(TransportError::Kind::Cancelled);
    if (*wholeTransferTimedOut)
        throw TransportError(TransportError::Kind::Timeout);
    if (*tooLarge) {
        m_log.line(QStringLiteral("[GeminiService] answer over %1 bytes; abandoned").arg(kMaxAnswerBytes));
        throw GeminiError(GeminiError::Kind::NetworkError, QStringLiteral("応答が大きすぎます (1 MB 超)"));
    }
    // Errors below 200 are the network's (connection, time-out, TLS, proxy); above, the server
    // answered with a status that the response handling maps itself.
    if (error != QNetworkReply::NoError && error < 200) {
        // Our own abort is not in play here, so an operation-cancelled error is the idle time-out.
        if (error == QNetworkReply::OperationCanceledError)
            throw TransportError(TransportError::Kind::Timeout);
        throw TransportError(TransportError::kindFor(error));
    }
    if (!status.isValid())
        throw GeminiError(GeminiError::Kind::NetworkError, QStringLiteral("不正なレスポンス"));
    answer.status = status.toInt();
    co_return answer;
}

GeminiResult GeminiService::handleAnswer(const HttpAnswer& answer, const QString& logPrefix)
{
    if (answer.status != 200) {
        const QString body = bodyText(answer.body);
        const QByteArray logged = utf8Prefix(answer.body, kLoggedErrorBytes);
        m_log.line(QStringLiteral("[GeminiService] HTTP %1: %2%3")
                       .arg(answer.status)
                       .arg(logged.size() == answer.body.size() ? body : bodyText(logged),
                            logged.size() == answer.body.size()
                                ? QString()
                                : QStringLiteral(" … (%1 bytes in all)").arg(answer.body.size())));
        if (answer.status == 429)
            throw GeminiError(GeminiError::Kind::RateLimited);
        // The user reads a sentence of ours; the server's own words stay in the log.
        throw GeminiError(GeminiError::Kind::ApiError, errorSentence(answer.status, answer.body));
    }
    const GeminiResponse response = GeminiResponse::fromJson(answer.body);
    const std::optional<QString> text = response.answerText();
    if (!text)
        throw GeminiError(GeminiError::Kind::EmptyResponse);
    if (response.isCutOff())
        throw GeminiError(GeminiError::Kind::ApiError, QStringLiteral("応答が出力の上限で途中までしかありません"));
    m_log.content(logPrefix, prefixCharacters(*text, kLoggedAnswerCharacters));
    if (const auto& usage = response.usageMetadata) {
        m_log.line(QStringLiteral("📊 [GeminiService] tokens — prompt: %1, candidates: %2, thoughts: %3")
                       .arg(usage->promptTokenCount.value_or(0))
                       .arg(usage->candidatesTokenCount.value_or(0))
                       .arg(usage->thoughtsTokenCount.value_or(0)));
    }
    return GeminiResult{TextFormatter::trimWhitespaceAndNewlines(*text), response.usageMetadata};
}

Task<GeminiResult> GeminiService::rewrite(QString text, QString apiKey, QString occupation, bool assumePoorDiction,
                                          CorrectionMode mode)
{
    if (apiKey.isEmpty())
        throw GeminiError(GeminiError::Kind::MissingApiKey);
    if (text.isEmpty())
        co_return GeminiResult{};
    const QUrl url = buildUrl();
    const QString prompt = CorrectionPrompts::buildTextPrompt(text, occupation, assumePoorDiction, mode);
    m_log.content(QStringLiteral("📤 [GeminiService] prompt: "), prompt);
    const QByteArray body = buildTextRequestBody(prompt, thinkingBudget(mode));
    const HttpAnswer answer = co_await post(url, apiKey, body, kTextRequestTimeoutMs);
    co_return handleAnswer(answer, QStringLiteral("📥 [GeminiService] response: "));
}

Task<GeminiResult> GeminiService::transcribeAudio(QByteArray wavData, QString apiKey, QString occupation,
                                                  bool assumePoorDiction, CorrectionMode mode)
{
    if (apiKey.isEmpty())
        throw GeminiError(GeminiError::Kind::MissingApiKey);
    const QUrl url = buildUrl();
    const QString prompt = CorrectionPrompts::buildAudioPrompt(occupation, assumePoorDiction, mode);
    m_log.content(QStringLiteral("📤 [GeminiService] audio prompt: "), prompt);
    m_log.line(QStringLiteral("📤 [GeminiService] audio data size: %1 bytes").arg(wavData.size()));
    const QByteArray body = buildAudioRequestBody(wavData, prompt, thinkingBudget(mode));
    const HttpAnswer answer = co_await post(url, apiKey, body, kAudioRequestTimeoutMs);
    co_return handleAnswer(answer, QStringLiteral("📥 [GeminiService] audio response: "));
}

} // namespace vel
