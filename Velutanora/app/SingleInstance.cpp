#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
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
    // Without a runtime folder of our own, a folder in our own home: in /tmp anyone could take
    // the name first and keep every launch from running.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    QDir().mkpath(state);
    return privateFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), state, problem);
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

bool SingleInstance::isCommand(const QString& command)
{
    return command == QLatin1String("show") || command == QLatin1String("toggle") || command == QLatin1String("cancel");
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
        if (socket.canReadLine() && socket.readLine().trimmed() == "ok")
            return true;
        m_problem = QStringLiteral("起動中のVelutanoraがコマンド「%1」を受け取りません（%2 秒待ちました）。"
                                   "止まっているなら終了させてから起動してください")
                        .arg(command)
                        .arg(timeoutMs / 1000.0);
        return false;
    }
    m_problem = QStringLiteral("起動中のVelutanoraに接続できません（%1 秒待ちました）").arg(timeoutMs / 1000.0);
    return false;
}

bool SingleInstance::listen()
{
    const QString path = m_folder + kSocket;
    // Only we can write in the folder, and we hold the lock: whatever is at the socket's name is
    // left from an earlier run of ours (a socket when it died, or anything else), and goes.
    struct stat st{};
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            m_problem = QStringLiteral("%1 がフォルダになっています。削除してから起動してください").arg(path);
            return false;
        }
        if (::unlink(name.constData()) != 0) {
            m_problem = QStringLiteral("%1 を削除できません: %2").arg(path, systemError());
            return false;
        }
    }
    m_server = new QLocalServer(this);
    if (!m_server->listen(path)) {
        m_problem = QStringLiteral("%1 で待ち受けられません: %2").arg(path, m_server->errorString());
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!peerIsUs(socket->socketDescriptor())) {
                socket->abort();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    const QString command = QString::fromUtf8(socket->readLine(kMaxLine + 1)).trimmed();
                    const bool known = isCommand(command);
                    socket->write(known ? "ok\n" : "error: unknown command\n");
                    socket->flush();
                    if (known)
                        emit commandReceived(command);
                }
                // A command is a word: a line that does not end by now is not one.
                if (socket->bytesAvailable() > kMaxLine) {
                    socket->write("error: line too long\n");
                    socket->flush();
                    socket->disconnectFromServer();
                    socket->readAll();
                }
            });
        }
    });
    return true;
}

} // namespace vel
