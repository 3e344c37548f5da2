#include "common/Logger.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/VelutanoraApp.h"
#include "audio/LocalRecognizer.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// No arguments, or only those of the desktop program: the program with its window and tray.
bool isDesktopLaunch(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg != "--autostart" && arg != "--toggle" && arg != "--cancel")
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (!isDesktopLaunch(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("velutanora"));
        QCoreApplication::setApplicationVersion(QStringLiteral(VELUTANORA_VERSION));
        vel::CommandLine commandLine(stdout, stderr, vel::makeLocalRecognizer, vel::localRecognitionReport);
        return commandLine.run(QCoreApplication::arguments());
    }

    const bool isCommand = std::any_of(argv + 1, argv + argc, [](const char* a) {
        return QByteArray(a) == "--toggle" || QByteArray(a) == "--cancel";
    });
    if (isCommand) {
        // A running instance takes the command; only without one does this become the program.
        QCoreApplication core(argc, argv);
        QString ignored;
        vel::SingleInstance running(vel::SingleInstance::defaultFolder(&ignored));
        const QString command = core.arguments().contains(QStringLiteral("--toggle")) ? QStringLiteral("toggle")
                                                                                      : QStringLiteral("cancel");
        if (const std::optional<bool> handed = running.handOverToRunning(command)) {
            if (!*handed)
                std::fprintf(stderr, "velutanora: %s\n", qUtf8Printable(running.problem()));
            return *handed ? 0 : 1;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velutanora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velutanora"));
    QApplication::setApplicationVersion(QStringLiteral(VELUTANORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.velutanora.Velutanora")); // the application id
    QApplication::setQuitOnLastWindowClosed(false); // closing the window leaves it in the tray
    // The program speaks Japanese: so do Qt's own words (context menus, dialogs' buttons).
    QTranslator qtJapanese;
    if (qtJapanese.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtJapanese);

    const QStringList args = QApplication::arguments();
    const QString command = args.contains(QStringLiteral("--toggle")) ? QStringLiteral("toggle")
                            : args.contains(QStringLiteral("--cancel")) ? QStringLiteral("cancel")
                                                                         : QStringLiteral("show");
    QString folderProblem;
    vel::SingleInstance instance(vel::SingleInstance::defaultFolder(&folderProblem));
    switch (instance.start(command)) {
    case vel::SingleInstance::Outcome::Primary:
        break;
    case vel::SingleInstance::Outcome::HandedOver:
        return 0;
    case vel::SingleInstance::Outcome::Unreachable:
    case vel::SingleInstance::Outcome::Unsafe:
        // Running anyway would put a second program on the same keys and store.
        std::fprintf(stderr, "velutanora: %s\n",
                     qUtf8Printable(folderProblem.isEmpty() ? instance.problem() : folderProblem));
        return 1;
    }

    vel::StreamLogger log(stdout);
    vel::VelutanoraApp velutanora(log);
    QObject::connect(&instance, &vel::SingleInstance::commandReceived, &velutanora, &vel::VelutanoraApp::handleCommand);
    const bool quiet = args.contains(QStringLiteral("--autostart")) || command != QLatin1String("show");
    velutanora.launch(quiet);
    if (command != QLatin1String("show"))
        velutanora.handleCommand(command);
    return app.exec();
}
