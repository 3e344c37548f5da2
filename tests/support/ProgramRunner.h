#pragma once

#include "support/Files.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTest>

namespace vel::test {

// The velutanora program run as a user would, with its own store.
struct ProgramResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the program while this process's event loop keeps serving (fake servers in the test).
inline ProgramResult runProgram(const QStringList& args, const QString& configHome, const QString& voskLibrary = {},
                                const QMap<QString, QString>& extraEnvironment = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = extraEnvironment.begin(); it != extraEnvironment.end(); ++it)
        env.insert(it.key(), it.value());
    env.insert("XDG_CONFIG_HOME", configHome);
    env.insert("XDG_DATA_HOME", configHome + "/data");
    if (!voskLibrary.isEmpty())
        env.insert("VELUTANORA_VOSK_LIBRARY", voskLibrary);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELUTANORA_BINARY), args);
    p.waitForStarted();
    for (int i = 0; i < 24000 && p.state() != QProcess::NotRunning; ++i)
        QTest::qWait(5);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

// Writes the store the program will read.
inline bool seedStore(const QString& configHome, const QJsonObject& object)
{
    return !writeFile(configHome + "/velutanora/defaults.json", QJsonDocument(object).toJson()).isEmpty();
}

inline QJsonObject storedObject(const QString& configHome)
{
    return QJsonDocument::fromJson(readFile(configHome + "/velutanora/defaults.json")).object();
}

} // namespace vel::test
