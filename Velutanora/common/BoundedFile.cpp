#include "common/BoundedFile.h"

#include <QFile>
#include <QFileInfo>

namespace vel {

QString BoundedRead::describe() const
{
    switch (failure) {
    case Failure::None: return {};
    case Failure::Missing: return QStringLiteral("no such file");
    case Failure::NotRegular: return QStringLiteral("not a regular file");
    case Failure::TooLarge:
        return QStringLiteral("%1 bytes, over the limit of %2").arg(size).arg(limit);
    case Failure::Unreadable: return error;
    }
    return {};
}

BoundedRead readBoundedFile(const QString& path, qint64 maxBytes)
{
    BoundedRead read;
    read.limit = maxBytes;
    const QFileInfo info(path);
    if (!info.exists()) {
        read.failure = BoundedRead::Failure::Missing;
        return read;
    }
    if (!info.isFile()) {
        read.failure = BoundedRead::Failure::NotRegular;
        return read;
    }
    read.size = info.size();
    if (read.size > maxBytes) {
        read.failure = BoundedRead::Failure::TooLarge;
        return read;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        read.failure = BoundedRead::Failure::Unreadable;
        read.error = file.errorString();
        return read;
    }
    // The file may have grown since it was measured: never past the bound.
    read.bytes = file.read(maxBytes + 1);
    if (read.bytes.size() > maxBytes) {
        read.size = read.bytes.size();
        read.bytes.clear();
        read.failure = BoundedRead::Failure::TooLarge;
    }
    return read;
}

} // namespace vel
