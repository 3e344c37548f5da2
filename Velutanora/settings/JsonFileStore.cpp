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
#include <sys/file.h>
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

// Holds the advisory lock that orders the processes sharing one store.
class StoreLock {
public:
    explicit StoreLock(const QString& storePath)
    {
        const QByteArray path = QFile::encodeName(storePath + QStringLiteral(".lock"));
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~StoreLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

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

QString JsonFileStore::targetPath() const
{
    const QFileInfo info(m_path);
    return info.isSymLink() ? info.symLinkTarget() : m_path;
}

QString JsonFileStore::asideName(const QString& label) const
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString base = m_path + QLatin1Char('.') + label + QLatin1Char('-') + stamp;
    QString target = base;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    return target;
}

void JsonFileStore::load()
{
    if (!QFileInfo::exists(m_path))
        return;
    struct stat st{};
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0 && !(st.st_mode & S_IWUSR)) {
        m_notWritable = QStringLiteral("the file is read-only");
        m_log.line(QStringLiteral("⚠️ [Settings] %1 is read-only; changes are kept in memory only").arg(m_path));
    }
    if (QFileInfo(QFileInfo(m_path).absolutePath()).isWritable()) {
        StoreLock lock(m_path);
        reload();
        if (lock.held())
            removeStaleTemporaries();
    } else {
        reload();
    }
}

bool JsonFileStore::reload()
{
    QFile file(m_path);
    if (!file.exists())
        return m_notWritable.isEmpty();
    if (!file.open(QIODevice::ReadOnly)) {
        m_notWritable = QStringLiteral("the existing file could not be read");
        m_log.line(QStringLiteral("⚠️ [Settings] cannot read %1 (%2); using defaults and leaving the file untouched")
                       .arg(m_path, file.errorString()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
        QJsonObject fresh = doc.object();
        for (const QString& key : std::as_const(m_unsaved)) {
            if (m_object.contains(key))
                fresh.insert(key, m_object.value(key));
            else
                fresh.remove(key);
        }
        m_object = fresh;
        return m_notWritable.isEmpty();
    }

    // Never lose a damaged file silently: keep it beside the new one.
    const QString target = asideName(QStringLiteral("corrupt"));
    const QString reason = error.error != QJsonParseError::NoError ? error.errorString()
                                                                    : QStringLiteral("not a JSON object");
    if (QFile::rename(m_path, target)) {
        m_log.line(QStringLiteral("⚠️ [Settings] %1 is unreadable (%2); moved it to %3 and loaded defaults")
                       .arg(m_path, reason, target));
        return m_notWritable.isEmpty();
    }
    m_notWritable = QStringLiteral("the existing file could not be read");
    m_log.line(QStringLiteral("⚠️ [Settings] %1 is unreadable (%2) and could not be moved aside; using defaults without saving")
                   .arg(m_path, reason));
    return false;
}

void JsonFileStore::removeStaleTemporaries()
{
    // Only a writer that holds the lock has a temporary file; with the lock held, any left are
    // from a save that died. They hold the API key, so they go (ours only, never a link).
    const QFileInfo target(targetPath());
    const QDir folder = target.absoluteDir();
    const QStringList stale =
        folder.entryList({target.fileName() + QStringLiteral(".tmp-*")}, QDir::Files | QDir::Hidden | QDir::System);
    int removed = 0;
    for (const QString& name : stale) {
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        struct stat st{};
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid()
            && ::unlink(path.constData()) == 0)
            ++removed;
    }
    if (removed > 0)
        m_log.line(QStringLiteral("🧹 [Settings] removed %1 temporary copies left by interrupted saves").arg(removed));
}

QJsonValue JsonFileStore::value(const QString& key) const
{
    return m_object.value(key);
}

void JsonFileStore::setValue(const QString& key, const QJsonValue& value)
{
    modify({key}, [&](QJsonObject& values) { values.insert(key, value); });
}

void JsonFileStore::remove(const QString& key)
{
    modify({key}, [&](QJsonObject& values) { values.remove(key); });
}

void JsonFileStore::modify(const QStringList& keys, const Edit& edit)
{
    const auto apply = [&] { editKeys(m_object, keys, edit); };
    const auto keepInMemory = [&] {
        for (const QString& key : keys)
            m_unsaved.insert(key);
    };

    if (!m_notWritable.isEmpty()) {
        apply();
        keepInMemory();
        m_log.line(QStringLiteral("⚠️ [Settings] not saving to %1: %2").arg(m_path, m_notWritable));
        return;
    }
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!ensureFolder(folder)) {
        apply();
        keepInMemory();
        m_log.line(QStringLiteral("⚠️ [Settings] cannot create %1 (%2); the change is kept in memory only")
                       .arg(folder, errnoText()));
        return;
    }
    StoreLock lock(m_path);
    if (!lock.held())
        m_log.line(QStringLiteral("⚠️ [Settings] cannot lock %1.lock (%2); saving without it").arg(m_path, errnoText()));
    if (!reload()) {
        apply();
        keepInMemory();
        return;
    }
    apply();
    const QByteArray bytes = QJsonDocument(m_object).toJson(QJsonDocument::Indented);
    const QString failure = writeAtomically(targetPath(), bytes);
    if (!failure.isEmpty()) {
        keepInMemory();
        m_log.line(QStringLiteral("⚠️ [Settings] cannot save %1 (%2); the change is kept in memory only")
                       .arg(m_path, failure));
        return;
    }
    m_unsaved.clear();
}

void JsonFileStore::keepAside(const QString& label, const QByteArray& bytes, const QString& reason)
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!ensureFolder(folder))
        return;
    // One copy of each distinct original: every run that reads the same damaged value (a
    // read-only --print-settings, say) would otherwise add another.
    const QFileInfo store(m_path);
    const QStringList earlier = store.absoluteDir().entryList({store.fileName() + QLatin1Char('.') + label + QStringLiteral("-*")},
                                                             QDir::Files | QDir::Hidden);
    for (const QString& name : earlier) {
        QFile copy(store.absoluteDir().filePath(name));
        if (copy.size() == bytes.size() && copy.open(QIODevice::ReadOnly) && copy.readAll() == bytes)
            return;
    }
    const QString target = asideName(label);
    const QString failure = writeAtomically(target, bytes);
    if (failure.isEmpty())
        m_log.line(QStringLiteral("⚠️ [Settings] %1 in %2; kept the original in %3").arg(reason, label, target));
    else
        m_log.line(QStringLiteral("⚠️ [Settings] %1 in %2; cannot keep the original (%3)").arg(reason, label, failure));
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
