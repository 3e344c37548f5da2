#pragma once

#include "common/Error.h"
#include "common/TransportError.h"
#include "common/Task.h"
#include "correction/GeminiWire.h"
#include "settings/AppSettings.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QUrl>

#include <deque>
#include <functional>

namespace vel {

class Clock;
class Logger;

class GeminiError : public Error {
public:
    enum class Kind { NetworkError, ApiError, MissingApiKey, InvalidUrl, RateLimited, EmptyResponse };
    GeminiError(Kind kind, const QString& message = {});
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// The client of the Gemini generateContent API (model gemini-2.5-flash).
class GeminiService final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 2;
    static constexpr int kTextRequestTimeoutMs = 60000;
    static constexpr int kAudioRequestTimeoutMs = 30000;
    static constexpr double kWholeTransferSeconds = 30.0;
    static constexpr int kWarmUpTimeoutMs = 5000;
    // Answers are a few kilobytes of text: anything near this is not an answer to read.
    static constexpr qint64 kMaxAnswerBytes = 1 << 20;
    // How much of an error body the log keeps.
    static constexpr qsizetype kLoggedErrorBytes = 2048;

    // baseUrl is read on every call: the hidden setting "gemini_base_url". The clock times the
    // whole-transfer limit, so it must run in real time while an answer is awaited.
    GeminiService(Logger& log, Clock& clock, std::function<QString()> baseUrl, QObject* parent = nullptr);

    // Opens the connection to the API host early; returns at once.
    void warmConnection(const QString& apiKey);
    // Asks the API whether the key works (the model's description, no tokens used): empty when
    // it does, else why not in a sentence for the user.
    Task<QString> checkKey(QString apiKey);
    Task<GeminiResult> rewrite(QString text, QString apiKey, QString occupation, bool assumePoorDiction,
                               CorrectionMode mode);
    Task<GeminiResult> transcribeAudio(QByteArray wavData, QString apiKey, QString occupation,
                                       bool assumePoorDiction, CorrectionMode mode);

    // The endpoint; throws GeminiError::InvalidUrl. The key goes in the x-goog-api-key header,
    // never in the URL, which proxies and logs keep.
    QUrl buildUrl(bool withMethod = true) const;
    // How much of an answer the log keeps.
    static constexpr qsizetype kLoggedAnswerCharacters = 200;

    // What a failed answer means, in a sentence for the user (the body is Google's error JSON).
    static QString errorSentence(int status, const QByteArray& body);

    static qint64 thinkingBudget(CorrectionMode mode) { return mode == CorrectionMode::Quality ? -1 : 0; }

    // Whether a correction request is on its way (for simulated time, which must not run on
    // while a real answer is awaited).
    bool hasRequestsInFlight() const { return m_inFlight > 0 || !m_waiting.empty(); }

private:
    struct HttpAnswer {
        int status = 0;
        QByteArray body;
    };
    Task<HttpAnswer> post(QUrl url, QString apiKey, QByteArray body, int idleTimeoutMs);
    // The request with the key's header; throws when the key cannot be a header's value.
    static QNetworkRequest keyedRequest(const QUrl& url, const QString& apiKey);
    Task<void> acquireSlot();
    void releaseSlot();
    GeminiResult handleAnswer(const HttpAnswer& answer, const QString& logPrefix);

    Logger& m_log;
    Clock& m_clock;
    std::function<QString()> m_baseUrl;
    QNetworkAccessManager m_network;
    int m_inFlight = 0;
    std::deque<Completion<Unit>> m_waiting;
};

} // namespace vel
