#pragma once

#include <QByteArray>
#include <QString>

namespace vel {

// A file read whole, or why not. Only a regular file is read: a pipe or a device (/dev/zero, a
// FIFO) would block or never end; and only up to a bound, so that a huge file is refused before
// it fills the memory.
struct BoundedRead {
    enum class Failure { None, Missing, NotRegular, TooLarge, Unreadable };
    QByteArray bytes;
    Failure failure = Failure::None;
    qint64 size = 0;    // the file's size, when it is a regular file
    qint64 limit = 0;   // the bound it was read with
    QString error;      // the system's words, when unreadable

    // In English, for the command line and the log.
    QString describe() const;
};

BoundedRead readBoundedFile(const QString& path, qint64 maxBytes);

} // namespace vel
