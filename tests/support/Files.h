#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace vel::test {

inline QString testdata(const QString& name) { return QStringLiteral(VELUTANORA_TESTDATA "/") + name; }
inline QString fixture(const QString& name) { return testdata(QStringLiteral("speech-ja/") + name); }

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the file whole, making its folder; returns its path, or an empty string when it could not.
inline QString writeFile(const QString& path, const QByteArray& bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return {};
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    return path;
}

} // namespace vel::test
