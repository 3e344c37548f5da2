#pragma once

#include "common/Error.h"

#include <QNetworkReply>

namespace vel {

// A request that never got an HTTP answer: no connection, a time-out, a reset, a cancellation.
// The description never contains the address (it would carry the API key).
class TransportError : public Error {
public:
    enum class Kind { Timeout, Cancelled, CannotConnect, ConnectionLost, HostNotFound, Tls, Offline, Other };
    explicit TransportError(Kind kind);
    Kind kind() const { return m_kind; }
    static Kind kindFor(QNetworkReply::NetworkError code);

private:
    Kind m_kind;
};

} // namespace vel
