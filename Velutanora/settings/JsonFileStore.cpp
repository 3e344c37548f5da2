#include "settings/JsonFileStore.h"

#include "common/Logger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vel {

namespace {

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool ensureFolder(const QString& folder)
{
    QFileInfo info(folder);
    if (info.isDir())
        return true;
    const QString parent = info.absolutePath();
    if (!QDir().mkpath(parent))
        return false;
    // Our own folder is private: it holds the API key.
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

} // namespace

JsonFileStore::JsonFileStore(QString path, Logger& log) : m_path(std::move(path)), m_log(log)
{
    load();
}

QString JsonFileStore::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/velutanora/defaults.json");
}

void JsonFileStore::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_writable = false;
        m_log.line(QStringLiteral("⚠️ [Settings] cannot read %1 (%2); using defaults and leaving the file untouched")
                       .arg(m_path, file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
        m_object = doc.object();
        return;
    }

    // Never lose a damaged file silently: keep it beside the new one.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = m_path + QStringLiteral(".corrupt-") + stamp;
    for (int n = 1; QFile::exists(target); ++n)
        target = m_path + QStringLiteral(".corrupt-") + stamp + QLatin1Char('-') + QString::number(n);
    const QString reason = error.error != QJsonParseError::NoError ? error.errorString()
                                                                    : QStringLiteral("not a JSON object");
    if (QFile::rename(m_path, target)) {
        m_log.line(QStringLiteral("⚠️ [Settings] %1 is unreadable (%2); moved it to %3 and loaded defaults")
                       .arg(m_path, reason, target));
    } else {
        m_writable = false;
        m_log.line(QStringLiteral("⚠️ [Settings] %1 is unreadable (%2) and could not be moved aside; using defaults without saving")
                       .arg(m_path, reason));
    }
}

QJsonValue JsonFileStore::value(const QString& key) const
{
    return m_object.value(key);
}

void JsonFileStore::setValue(const QString& key, const QJsonValue& value)
{
    m_object.insert(key, value);
    save();
}

void JsonFileStore::remove(const QString& key)
{
    m_object.remove(key);
    save();
}

void JsonFileStore::save()
{
    if (!m_writable) {
        m_log.line(QStringLiteral("⚠️ [Settings] not saving to %1: the existing file could not be read").arg(m_path));
        return;
    }
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!ensureFolder(folder)) {
        m_log.line(QStringLiteral("⚠️ [Settings] cannot create %1 (%2); the change is kept in memory only")
                       .arg(folder, errnoText()));
        return;
    }
    const QByteArray bytes = QJsonDocument(m_object).toJson(QJsonDocument::Indented);
    const QString failure = writeAtomically(m_path, bytes);
    if (!failure.isEmpty())
        m_log.line(QStringLiteral("⚠️ [Settings] cannot save %1 (%2); the change is kept in memory only")
                       .arg(m_path, failure));
}

QString JsonFileStore::writeAtomically(const QString& path, const QByteArray& bytes,
                                       const std::function<bool()>& beforeRename)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    QByteArray temp = target + ".tmp-XXXXXX";

    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return errnoText();
    auto fail = [&](const QString& why) {
        ::close(fd);
        ::unlink(temp.constData());
        return why;
    };
    if (::fchmod(fd, 0600) != 0)
        return fail(errnoText());
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errnoText());
        }
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        return fail(errnoText());
    if (::close(fd) != 0) {
        const QString why = errnoText();
        ::unlink(temp.constData());
        return why;
    }
    if (beforeRename && !beforeRename()) {
        ::unlink(temp.constData());
        return QStringLiteral("interrupted");
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const QString why = errnoText();
        ::unlink(temp.constData());
        return why;
    }
    // Make the rename itself durable.
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

} // namespace vel
