#include "desktop/CommandLine.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velutanora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELUTANORA_VERSION));
    vel::CommandLine commandLine(stdout, stderr);
    return commandLine.run(QCoreApplication::arguments());
}
