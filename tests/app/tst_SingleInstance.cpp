#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vel;

namespace {
mode_t modeOf(const QString& path)
{
    struct stat st{};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// A socket file bound and left behind, as by a program that died.
void leaveSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    ::close(fd);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void privateFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // how the runtime folder is: "private", "open", "unset"
        QTest::addColumn<QString>("fallback"); // what is at the fallback path beforehand
        QTest::addColumn<bool>("usesRuntime");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("runtime folder") << "private" << "nothing" << true << true;
        QTest::newRow("runtime unset") << "unset" << "nothing" << false << true;
        QTest::newRow("runtime open to all") << "open" << "nothing" << false << true;
        QTest::newRow("fallback already ours") << "unset" << "private" << false << true;
        QTest::newRow("fallback is a folder anyone can enter") << "unset" << "open" << false << false;
        QTest::newRow("fallback is a link") << "unset" << "link" << false << false;
        QTest::newRow("fallback is a socket") << "unset" << "socket" << false << false;
        QTest::newRow("fallback belongs to another user") << "unset" << "foreign" << false << false;
    }

    void privateFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, fallback);
        QFETCH(bool, usesRuntime);
        QFETCH(bool, accepted);
        if (fallback == "foreign" && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QTemporaryDir dir;
        const QString runtimeDir = dir.path() + "/run";
        QDir().mkpath(runtimeDir);
        ::chmod(QFile::encodeName(runtimeDir).constData(), runtime == "open" ? 0777 : 0700);
        const QString tmp = dir.path() + "/tmp";
        QDir().mkpath(tmp);
        const QString fallbackPath = QStringLiteral("%1/velutanora-run-%2").arg(tmp).arg(::getuid());
        const QByteArray fallbackName = QFile::encodeName(fallbackPath);
        if (fallback == "private" || fallback == "open" || fallback == "foreign") {
            QVERIFY(QDir().mkpath(fallbackPath));
            ::chmod(fallbackName.constData(), fallback == "open" ? 0777 : 0700);
            if (fallback == "foreign")
                QVERIFY(::chown(fallbackName.constData(), 65534, 65534) == 0);
        } else if (fallback == "link") {
            QVERIFY(QFile::link(runtimeDir, fallbackPath));
        } else if (fallback == "socket") {
            leaveSocket(fallbackPath);
        }

        QString problem;
        const QString folder = SingleInstance::privateFolder(runtime == "unset" ? QString() : runtimeDir, tmp, &problem);
        QCOMPARE(!folder.isEmpty(), accepted);
        QCOMPARE(problem.isEmpty(), accepted);
        if (!accepted) {
            // Whatever was there is left as it was, and nothing runs on it.
            QVERIFY(modeOf(fallbackPath) != 0);
            SingleInstance instance(folder);
            QCOMPARE(instance.start("show"), SingleInstance::Outcome::Unsafe);
            return;
        }
        QCOMPARE(folder, usesRuntime ? runtimeDir + "/velutanora" : fallbackPath);
        QCOMPARE(modeOf(folder) & 0777, mode_t(0700));
    }

    // Launches racing for one folder: exactly one runs and the others' commands reach it.
    void simultaneousLaunchesLeaveOne()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/instance";
        QVERIFY(QDir().mkdir(folder));
        leaveSocket(folder + "/instance.sock"); // left by a run that was killed
        for (int round = 0; round < 10; ++round) {
            std::vector<std::unique_ptr<QProcess>> launches;
            for (int i = 0; i < 3; ++i) {
                launches.push_back(std::make_unique<QProcess>());
                launches.back()->start(QStringLiteral(INSTANCE_PROBE), {folder, QStringList{"toggle", "cancel", "show"}[i], "2"});
            }
            QStringList outcomes, received;
            for (auto& launch : launches) {
                QVERIFY(launch->waitForFinished(10000));
                const QStringList lines = QString::fromUtf8(launch->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
                outcomes << lines.value(0);
                received << lines.mid(1);
            }
            QCOMPARE(outcomes.count("primary"), 1);
            QCOMPARE(outcomes.count("handed-over"), 2);
            QCOMPARE(received.size(), 2);
        }
        // The last one to run took its socket with it; the lock file stays and is harmless.
        QVERIFY(!QFile::exists(folder + "/instance.sock"));
    }

    // Only the program's own words are taken: nothing else, and no endless line, reaches it.
    void aStrangeCommandIsRefused()
    {
        QTemporaryDir dir;
        SingleInstance instance(dir.path());
        QCOMPARE(instance.start("show"), SingleInstance::Outcome::Primary);
        QStringList received;
        connect(&instance, &SingleInstance::commandReceived, [&](const QString& c) { received << c; });
        QLocalSocket client;
        client.connectToServer(dir.path() + "/instance.sock");
        QVERIFY(client.waitForConnected(2000));
        client.write("dance\n");
        QTRY_VERIFY(client.canReadLine());
        QCOMPARE(client.readLine(), QByteArray("error: unknown command\n"));
        client.write(QByteArray(1 << 20, 'x'));
        QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);
        QVERIFY(received.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
