#include "desktop/SingleInstance.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vel {

namespace {

constexpr auto kSocket = "/instance.sock";
constexpr auto kLock = "/instance.lock";

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Empty when path is a folder (not a link) owned by us that no one else may enter.
QString privacyProblem(const QString& path)
{
    struct stat st{};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("%1: %2").arg(path, systemError());
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 はフォルダではありません").arg(path);
    if (st.st_uid != ::getuid())
        return QStringLiteral("%1 は別のユーザーのものです").arg(path);
    if (st.st_mode & 077)
        return QStringLiteral("%1 は他のユーザーも開けます (%2)").arg(path).arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
    return {};
}

QString ensurePrivateFolder(const QString& path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("%1: %2").arg(path, systemError());
    return privacyProblem(path);
}

bool peerIsUs(qintptr descriptor)
{
    ucred cred{};
    socklen_t size = sizeof cred;
    return ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0
           && cred.uid == ::getuid();
}

} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent), m_folder(std::move(folder)) {}

SingleInstance::~SingleInstance()
{
    if (m_server) {
        m_server->close();
        ::unlink(QFile::encodeName(m_folder + kSocket).constData());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleInstance::privateFolder(const QString& runtimeDir, const QString& fallbackParent, QString* problem)
{
    if (!runtimeDir.isEmpty() && privacyProblem(runtimeDir).isEmpty()) {
        const QString folder = runtimeDir + QStringLiteral("/velutanora");
        if (const QString why = ensurePrivateFolder(folder); !why.isEmpty()) {
            *problem = why;
            return {};
        }
        return folder;
    }
    const QString folder = QStringLiteral("%1/velutanora-run-%2").arg(fallbackParent).arg(::getuid());
    if (const QString why = ensurePrivateFolder(folder); !why.isEmpty()) {
        *problem = why;
        return {};
    }
    return folder;
}

QString SingleInstance::defaultFolder(QString* problem)
{
    return privateFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/tmp"), problem);
}

SingleInstance::Outcome SingleInstance::start(const QString& command, int timeoutMs)
{
    if (m_folder.isEmpty()) {
        if (m_problem.isEmpty())
            m_problem = QStringLiteral("共有フォルダがありません");
        return Outcome::Unsafe;
    }
    m_lockFd = ::open(QFile::encodeName(m_folder + kLock).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        m_problem = QStringLiteral("%1%2: %3").arg(m_folder, QLatin1String(kLock), systemError());
        return Outcome::Unsafe;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0) {
        if (listen())
            return Outcome::Primary;
        m_problem = m_server->errorString();
        return Outcome::Unsafe;
    }
    ::close(m_lockFd);
    m_lockFd = -1;
    // The holder may still be starting: it listens right after taking the lock.
    return send(command, timeoutMs) ? Outcome::HandedOver : Outcome::Unreachable;
}

std::optional<bool> SingleInstance::handOverToRunning(const QString& command, int timeoutMs)
{
    if (m_folder.isEmpty())
        return std::nullopt;
    const int fd = ::open(QFile::encodeName(m_folder + kLock).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd); // also lets go of the lock if it was taken here
    if (free)
        return std::nullopt;
    return send(command, timeoutMs);
}

bool SingleInstance::send(const QString& command, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_folder + kSocket);
        if (!socket.waitForConnected(int(deadline.remainingTime()))) {
            QThread::msleep(20);
            continue;
        }
        if (!peerIsUs(socket.socketDescriptor())) {
            m_problem = QStringLiteral("別のユーザーのプログラムが応答しました");
            return false;
        }
        socket.write(command.toUtf8() + '\n');
        // The running instance answers "ok" once it has the command.
        while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
        }
        return socket.canReadLine() && socket.readLine().trimmed() == "ok";
    }
    m_problem = QStringLiteral("起動中のVelutanoraが応答しません");
    return false;
}

bool SingleInstance::listen()
{
    const QString path = m_folder + kSocket;
    // Only we can write in the folder, and we hold the lock: a socket here is one a program of
    // ours left when it died. Anything else is not ours to remove.
    struct stat st{};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid())
        ::unlink(QFile::encodeName(path).constData());
    m_server = new QLocalServer(this);
    if (!m_server->listen(path))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!peerIsUs(socket->socketDescriptor())) {
                socket->abort();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    const QString command = QString::fromUtf8(socket->readLine()).trimmed();
                    socket->write("ok\n");
                    socket->flush();
                    if (!command.isEmpty())
                        emit commandReceived(command);
                }
            });
        }
    });
    return true;
}

} // namespace vel
