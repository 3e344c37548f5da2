#include "recording/KeptAudio.h"

#include "common/BoundedFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>

#include <sys/stat.h>

namespace vel {

QString KeptAudio::defaultFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/velutanora/kept-recordings");
}

std::optional<QString> KeptAudio::keep(const QByteArray& wav, QString* failure)
{
    if (!QFileInfo(m_folder).isDir()) {
        QDir().mkpath(QFileInfo(m_folder).absolutePath());
        ::mkdir(QFile::encodeName(m_folder).constData(), 0700);
    }
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".wav");
    QSaveFile file(m_folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(wav) != wav.size() || !file.commit()) {
        *failure = file.errorString();
        return std::nullopt;
    }
    prune(name);
    return name;
}

std::optional<QByteArray> KeptAudio::read(const QString& name) const
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    const BoundedRead read = readBoundedFile(m_folder + QLatin1Char('/') + name, kMaxBytes);
    if (read.failure != BoundedRead::Failure::None)
        return std::nullopt;
    return read.bytes;
}

void KeptAudio::remove(const QString& name)
{
    if (!name.isEmpty() && !name.contains(QLatin1Char('/')))
        QFile::remove(m_folder + QLatin1Char('/') + name);
}

// The newest first, until the bound; the one just kept always stays.
void KeptAudio::prune(const QString& spare)
{
    qint64 total = 0;
    const QFileInfoList files = QDir(m_folder).entryInfoList({QStringLiteral("*.wav")}, QDir::Files, QDir::Time);
    for (const QFileInfo& file : files) {
        total += file.size();
        if (total > kMaxBytes && file.fileName() != spare)
            QFile::remove(file.absoluteFilePath());
    }
}

} // namespace vel
