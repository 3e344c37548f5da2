#include "common/TransportError.h"

namespace vel {

namespace {

QString transportDescription(TransportError::Kind kind)
{
    switch (kind) {
    case TransportError::Kind::Timeout: return QStringLiteral("サーバーからの応答が時間内にありませんでした。");
    case TransportError::Kind::Cancelled: return QStringLiteral("キャンセルしました");
    case TransportError::Kind::CannotConnect: return QStringLiteral("サーバーに接続できませんでした。");
    case TransportError::Kind::ConnectionLost: return QStringLiteral("ネットワーク接続が切れました。");
    case TransportError::Kind::HostNotFound: return QStringLiteral("サーバーの名前を引けませんでした。ネットワークの設定を確かめてください。");
    case TransportError::Kind::Tls:
        return QStringLiteral("サーバーとの暗号化された接続（TLS）を始められませんでした。");
    case TransportError::Kind::Offline: return QStringLiteral("ネットワークにつながっていません。");
    case TransportError::Kind::Other: return QStringLiteral("ネットワークエラーが発生しました。");
    }
    return {};
}

} // namespace

TransportError::TransportError(Kind kind) : Error(transportDescription(kind)), m_kind(kind) {}

TransportError::Kind TransportError::kindFor(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::ConnectionRefusedError: return Kind::CannotConnect;
    case QNetworkReply::RemoteHostClosedError: return Kind::ConnectionLost;
    case QNetworkReply::HostNotFoundError: return Kind::HostNotFound;
    case QNetworkReply::TimeoutError: return Kind::Timeout;
    case QNetworkReply::OperationCanceledError: return Kind::Cancelled;
    case QNetworkReply::SslHandshakeFailedError: return Kind::Tls;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: return Kind::Offline;
    default: return Kind::Other;
    }
}

} // namespace vel
