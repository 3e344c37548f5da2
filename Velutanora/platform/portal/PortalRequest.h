#pragma once

#include "common/Task.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace vel {

class Logger;

// The answer to a portal call: the desktop answers through a Request object's Response signal
// (0 done, 1 the user declined, 2 otherwise ended); a D-Bus error (no such portal) is kError.
struct PortalResponse {
    static constexpr uint kDone = 0;
    static constexpr uint kDeclined = 1;
    static constexpr uint kOther = 2;
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

// The program's application id, as its desktop file is named. xdg-desktop-portal learns it
// through the host registry: GNOME 48 discards the shortcuts of a program without one, KDE files
// them under a new name at every start, and xdg-desktop-portal 1.21 refuses such a program.
inline const QString kApplicationId = QStringLiteral("io.github.velutanora.Velutanora");

// A session-bus connection of its own, registered under the application id before its first
// portal call (a registration must come first on a connection, and Qt's theme may have asked the
// portal already on the shared one). The shared connection where the desktop has no registry or
// the desktop file is not installed; `registered` says which.
QDBusConnection registeredPortalConnection(Logger& log, bool& registered);

// A portal interface's "version" property; 0 when the portal or the interface is missing.
uint portalVersion(const QDBusConnection& bus, const QString& interface);

// A unique token for the handle_token and session_handle_token options.
QString portalToken();

} // namespace vel
