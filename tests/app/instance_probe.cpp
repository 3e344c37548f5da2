// One launch's part in the single-instance race: claims the folder with a command, says what
// came of it and, when it runs, prints the commands it receives until it has the number awaited.
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    vel::SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    const auto outcome = instance.start(QString::fromLocal8Bit(argv[2]));
    const char* names[] = {"primary", "handed-over", "unreachable", "unsafe"};
    std::printf("%s\n", names[static_cast<int>(outcome)]);
    std::fflush(stdout);
    if (outcome != vel::SingleInstance::Outcome::Primary)
        return 0;
    int awaited = std::atoi(argv[3]);
    QObject::connect(&instance, &vel::SingleInstance::commandReceived, [&awaited](const QString& command) {
        std::printf("got %s\n", qPrintable(command));
        std::fflush(stdout);
        if (--awaited <= 0)
            QCoreApplication::quit();
    });
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    return app.exec();
}
