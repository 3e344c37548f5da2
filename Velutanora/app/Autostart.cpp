#include "app/Autostart.h"

#include "settings/JsonFileStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vel::Autostart {

QString entryPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/velutanora.desktop");
}

QString entryText(const QString& executable)
{
    QString quoted = executable;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Velutanora\n"
                          "Comment=日本語音声入力\n"
                          "Exec=\"%1\" --autostart\n"
                          "Icon=velutanora\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quoted);
}

QString apply(bool enabled, const QString& executable)
{
    const QString path = entryPath();
    if (!enabled) {
        if (QFile::exists(path) && !QFile::remove(path))
            return QStringLiteral("cannot remove %1").arg(path);
        return {};
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
    return JsonFileStore::writeAtomically(path, entryText(executable).toUtf8());
}

} // namespace vel::Autostart
