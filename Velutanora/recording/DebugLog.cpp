#include "recording/DebugLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vel {

QString DebugLog::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/velutanora/velutanora_debug.log");
}

void DebugLog::append(const QString& text) const { write(text, true); }
void DebugLog::appendIfExists(const QString& text) const { write(text, false); }

void DebugLog::write(const QString& text, bool create) const
{
    const QByteArray path = QFile::encodeName(m_path);
    int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT && create) {
        // Our own folder, private like the file (its parents as the system makes them).
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QFileInfo(folder).isDir() && QDir().mkpath(QFileInfo(folder).absolutePath()))
            ::mkdir(QFile::encodeName(folder).constData(), 0700);
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
}

} // namespace vel
