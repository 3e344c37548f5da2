#include "support/FakeGeminiServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace vel::test {

QJsonObject RecordedRequest::json() const { return QJsonDocument::fromJson(body).object(); }

QJsonArray RecordedRequest::parts() const
{
    return json()["contents"].toArray().at(0).toObject()["parts"].toArray();
}

QString RecordedRequest::text(int part) const { return parts().at(part).toObject()["text"].toString(); }

QByteArray RecordedRequest::audio() const
{
    return QByteArray::fromBase64(parts().at(0).toObject()["inlineData"].toObject()["data"].toString().toLatin1());
}

FakeReply FakeReply::answer(const QString& text, const QByteArray& usageJson)
{
    QJsonObject part{{QStringLiteral("text"), text}};
    QJsonObject candidate{{QStringLiteral("content"), QJsonObject{{QStringLiteral("parts"), QJsonArray{part}}}}};
    QJsonObject root{{QStringLiteral("candidates"), QJsonArray{candidate}}};
    if (!usageJson.isEmpty())
        root.insert(QStringLiteral("usageMetadata"), QJsonDocument::fromJson(usageJson).object());
    return FakeReply{Kind::Respond, 200, QJsonDocument(root).toJson(QJsonDocument::Compact), 0, {}};
}

FakeReply FakeReply::withStatus(int status, const QByteArray& body) { return FakeReply{Kind::Respond, status, body, 0, {}}; }

FakeGeminiServer::FakeGeminiServer(QSslCertificate certificate, QSslKey key, QObject* parent) : QObject(parent)
{
    if (!certificate.isNull()) {
        auto server = std::make_unique<QSslServer>();
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(certificate);
        config.setPrivateKey(key);
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setSslConfiguration(config);
        m_server = std::move(server);
        m_tls = true;
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &FakeGeminiServer::onNewConnection);
}

FakeGeminiServer::~FakeGeminiServer()
{
    // The sockets die with the server; their disconnect signals must not reach this half-destroyed object.
    for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>())
        socket->disconnect(this);
}

bool FakeGeminiServer::listen() { return m_server->listen(QHostAddress::LocalHost, 0); }
quint16 FakeGeminiServer::port() const { return m_server->serverPort(); }

QString FakeGeminiServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? QStringLiteral("https") : QStringLiteral("http")).arg(port());
}

QList<RecordedRequest> FakeGeminiServer::generateRequests() const
{
    QList<RecordedRequest> out;
    for (const RecordedRequest& r : m_requests) {
        if (r.path.endsWith(QLatin1String(":generateContent")))
            out.append(r);
    }
    return out;
}

void FakeGeminiServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        ++m_connections;
        ++m_open;
        m_maxConcurrent = std::max(m_maxConcurrent, m_open);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --m_open;
            m_buffers.remove(socket);
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void FakeGeminiServer::onReadyRead(QTcpSocket* socket)
{
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        RecordedRequest request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        const QUrl target(QString::fromLatin1(first.value(1)));
        request.path = target.path(QUrl::FullyDecoded);
        request.query = QUrlQuery(target.query(QUrl::FullyEncoded));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        m_requests.append(request);

        FakeReply reply = m_default;
        if (request.path.endsWith(QLatin1String(":generateContent")) && !m_queue.empty()) {
            reply = m_queue.front();
            m_queue.pop_front();
        } else if (!request.path.endsWith(QLatin1String(":generateContent"))) {
            reply = m_other;
        }
        emit requestReceived();
        answer(socket, reply);
        if (reply.kind != FakeReply::Kind::Respond)
            return;
    }
}

void FakeGeminiServer::answer(QTcpSocket* socket, const FakeReply& reply)
{
    switch (reply.kind) {
    case FakeReply::Kind::Respond: {
        if (reply.delayMs > 0) {
            FakeReply now = reply;
            now.delayMs = 0;
            QPointer<QTcpSocket> guarded = socket;
            QTimer::singleShot(reply.delayMs, this, [this, guarded, now] {
                if (guarded)
                    answer(guarded, now);
            });
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        out += "Content-Type: application/json\r\n";
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        out += reply.headers;
        out += "Connection: keep-alive\r\n\r\n";
        out += reply.body;
        socket->write(out);
        break;
    }
    case FakeReply::Kind::BodyNeverEnds:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000\r\n\r\n{\"candidates\":[");
        break;
    case FakeReply::Kind::Drip: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000\r\n\r\n");
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
        timer->start(reply.delayMs);
        break;
    }
    case FakeReply::Kind::ResetConnection:
        socket->abort();
        break;
    case FakeReply::Kind::NeverAnswer:
        break;
    case FakeReply::Kind::CloseMidway:
    case FakeReply::Kind::StallMidway: {
        QByteArray out = "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: "
                         + QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body.left(reply.body.size() / 2);
        socket->write(out);
        socket->flush();
        if (reply.kind == FakeReply::Kind::CloseMidway)
            socket->disconnectFromHost();
        break;
    }
    }
}

bool FakeGeminiServer::makeCertificate(const QString& dir, QSslCertificate& certificate, QSslKey& key)
{
    const QString certPath = dir + QStringLiteral("/cert.pem");
    const QString keyPath = dir + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath, QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return false;
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    certificate = QSslCertificate(certFile.readAll(), QSsl::Pem);
    key = QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem);
    return !certificate.isNull() && !key.isNull();
}

} // namespace vel::test
