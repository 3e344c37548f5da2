#pragma once

#include <QProcess>
#include <QString>
#include <QTest>

namespace vel::test {

// A private session bus for the test's life, so a test neither needs nor disturbs a desktop's own.
class PrivateBus {
public:
    // Empty when dbus-daemon is missing; the test then skips.
    QString start()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        if (!m_daemon.waitForStarted())
            return {};
        for (int i = 0; i < 500 && !m_daemon.canReadLine(); ++i)
            QTest::qWait(10);
        return QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

private:
    QProcess m_daemon;
};

} // namespace vel::test
