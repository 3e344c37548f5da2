#include "desktop/CommandLine.h"
#include "recording/LocalRecognizer.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velutanora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELUTANORA_VERSION));
    vel::CommandLine commandLine(stdout, stderr, vel::makeLocalRecognizer);
    return commandLine.run(QCoreApplication::arguments());
}
