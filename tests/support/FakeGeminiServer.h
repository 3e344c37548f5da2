#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QUrlQuery>

#include <deque>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace vel::test {

// One request as the fake server received it.
struct RecordedRequest {
    QByteArray method;
    QString path;
    QUrlQuery query;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QJsonObject json() const;
    // The parts of the first content: the prompt's text, and the recording when one was sent.
    QJsonArray parts() const;
    QString text(int part = 0) const;
    QByteArray audio() const; // the decoded inline data of the first part
};

// How the fake server answers one request.
struct FakeReply {
    enum class Kind { Respond, BodyNeverEnds, ResetConnection, NeverAnswer, CloseMidway, StallMidway, Drip };
    Kind kind = Kind::Respond;
    int status = 200;
    QByteArray body;
    int delayMs = 0; // real-time delay before a Respond answer; a Drip's interval
    QByteArray headers; // extra header lines, each ending in CRLF

    // A generateContent answer whose first candidate holds `text`; usage is a JSON object text.
    static FakeReply answer(const QString& text, const QByteArray& usageJson = {});
    static FakeReply withStatus(int status, const QByteArray& body);
    static FakeReply raw(const QByteArray& body) { return FakeReply{Kind::Respond, 200, body, 0, {}}; }
    static FakeReply bodyNeverEnds() { return FakeReply{Kind::BodyNeverEnds, 200, {}, 0, {}}; }
    static FakeReply reset() { return FakeReply{Kind::ResetConnection, 0, {}, 0, {}}; }
    static FakeReply neverAnswer() { return FakeReply{Kind::NeverAnswer, 0, {}, 0, {}}; }
    // Announces the whole body, sends half of it and closes the connection.
    static FakeReply closeMidway(const QByteArray& body) { return FakeReply{Kind::CloseMidway, 200, body, 0, {}}; }
    // Announces the whole body, sends half of it and then nothing, keeping the connection open.
    static FakeReply stallMidway(const QByteArray& body) { return FakeReply{Kind::StallMidway, 200, body, 0, {}}; }
    // Headers, then one byte of the body every intervalMs, never finishing.
    static FakeReply drip(int intervalMs) { return FakeReply{Kind::Drip, 200, {}, intervalMs, {}}; }
    FakeReply withHeader(const QByteArray& line) const
    {
        FakeReply r = *this;
        r.headers += line + "\r\n";
        return r;
    }
    FakeReply delayed(int ms) const
    {
        FakeReply r = *this;
        r.delayMs = ms;
        return r;
    }
};

// A Gemini API stand-in on 127.0.0.1 with a free port, over HTTP or TLS. It records every
// request and answers from a script (the queue first, then the default reply).
class FakeGeminiServer : public QObject {
    Q_OBJECT
public:
    // With a certificate and key it speaks TLS.
    FakeGeminiServer() : FakeGeminiServer(QSslCertificate(), QSslKey()) {}
    FakeGeminiServer(QSslCertificate certificate, QSslKey key, QObject* parent = nullptr);
    ~FakeGeminiServer() override;

    bool listen();
    QString baseUrl() const;
    quint16 port() const;

    void enqueue(const FakeReply& reply) { m_queue.push_back(reply); }
    void setDefaultReply(const FakeReply& reply) { m_default = reply; }
    // The answer to every other path (a file download, the warm-up).
    void setOtherReply(const FakeReply& reply) { m_other = reply; }

    const QList<RecordedRequest>& requests() const { return m_requests; }
    // Requests to generateContent only (not the warm-up).
    QList<RecordedRequest> generateRequests() const;
    int connectionCount() const { return m_connections; }
    int maxConcurrentConnections() const { return m_maxConcurrent; }

    // Writes a self-signed certificate for 127.0.0.1 into dir with openssl; false on failure.
    static bool makeCertificate(const QString& dir, QSslCertificate& certificate, QSslKey& key);

signals:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const FakeReply& reply);

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    std::deque<FakeReply> m_queue;
    FakeReply m_default = FakeReply::answer(QStringLiteral("OK"));
    FakeReply m_other = FakeReply::withStatus(200, "{}");
    QList<RecordedRequest> m_requests;
    QMap<QTcpSocket*, QByteArray> m_buffers;
    int m_connections = 0;
    int m_open = 0;
    int m_maxConcurrent = 0;
};

} // namespace vel::test
