#include "recording/DebugLog.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vel;

using namespace vel::test;

class TestDebugLog : public QObject {
    Q_OBJECT
private slots:
    void createsPrivatelyAndAppends()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/state/velutanora/debug.log";
        DebugLog log(path);
        log.appendIfExists("ignored\n");
        QVERIFY(!QFile::exists(path));
        log.append("一行目\n");
        log.appendIfExists("二行目\n");
        QCOMPARE(readFile(path), QByteArray("一行目\n二行目\n"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(dir.path() + "/state/velutanora").constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }

    // The user's own state folder, never a folder all users share.
    void theDefaultIsInTheUsersStateFolder_data()
    {
        QTest::addColumn<QByteArray>("stateHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("XDG_STATE_HOME") << QByteArray("/home/u/state") << "/home/u/state/velutanora/velutanora_debug.log";
        QTest::newRow("unset") << QByteArray() << QDir::homePath() + "/.local/state/velutanora/velutanora_debug.log";
        QTest::newRow("relative: ignored") << QByteArray("state") << QDir::homePath() + "/.local/state/velutanora/velutanora_debug.log";
    }
    void theDefaultIsInTheUsersStateFolder()
    {
        QFETCH(QByteArray, stateHome);
        QFETCH(QString, expected);
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", stateHome);
        QCOMPARE(DebugLog::defaultPath(), expected);
        qputenv("XDG_STATE_HOME", saved);
    }

    void neverFollowsASymbolicLink()
    {
        QTemporaryDir dir;
        const QString victim = dir.path() + "/victim";
        writeFile(victim, "precious\n");
        const QString path = dir.path() + "/debug.log";
        QVERIFY(QFile::link(victim, path));
        DebugLog(path).append("overwrite?\n");
        DebugLog(path).appendIfExists("overwrite?\n");
        QCOMPARE(readFile(victim), QByteArray("precious\n"));
    }

    void leavesAnotherUsersFileAlone()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to give a file to another user");
        QTemporaryDir dir;
        const QString path = dir.path() + "/debug.log";
        writeFile(path, "theirs\n");
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        DebugLog(path).append("mine\n");
        QCOMPARE(readFile(path), QByteArray("theirs\n"));
    }
};

QTEST_GUILESS_MAIN(TestDebugLog)
#include "tst_DebugLog.moc"
