#pragma once

#include "common/Task.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace vel {

// The answer to a portal call: the desktop answers through a Request object's Response signal
// (0 done, 1 the user declined, 2 otherwise ended); a D-Bus error (no such portal) is kError.
struct PortalResponse {
    static constexpr uint kDone = 0;
    static constexpr uint kDeclined = 1;
    static constexpr uint kError = 3;
    uint code = kError;
    QVariantMap results;
    QString error; // the D-Bus error, when code is kError

    bool ok() const { return code == kDone; }
};

inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// Calls a portal method whose last argument is its options, with a handle_token added, and
// waits for the Response. The Response is subscribed before the call, at the path the token
// predicts, so an answer that comes at once is not missed.
Task<PortalResponse> callPortal(QDBusConnection bus, QString interface, QString method, QVariantList arguments,
                                QVariantMap options);

// A D-Bus call awaited without blocking the event loop (a service in this process, as in the
// tests, answers through it).
Task<QDBusMessage> dbusCall(QDBusConnection bus, QDBusMessage call);

// A D-Bus error in words: its message, else its name.
inline QString dbusErrorText(const QDBusMessage& reply)
{
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

// A portal interface's "version" property; 0 when the portal or the interface is missing.
uint portalVersion(const QDBusConnection& bus, const QString& interface);

// A unique token for the handle_token and session_handle_token options.
QString portalToken();

} // namespace vel
