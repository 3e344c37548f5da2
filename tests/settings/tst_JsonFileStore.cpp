#include "common/Logger.h"
#include "support/Files.h"
#include "settings/AppSettings.h"
#include "settings/JsonFileStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vel;

namespace {

using vel::test::readFile;
using vel::test::writeFile;

unsigned modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 0777;
}

} // namespace

class TestJsonFileStore : public QObject {
    Q_OBJECT
private slots:
    void defaultPathFollowsXdg()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/tmp/xdg-test");
        QCOMPARE(JsonFileStore::defaultPath(), QStringLiteral("/tmp/xdg-test/velutanora/defaults.json"));
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(JsonFileStore::defaultPath(), QDir::homePath() + "/.config/velutanora/defaults.json");
        qputenv("XDG_CONFIG_HOME", saved);
    }

    void typesRoundTripThroughTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/velutanora/defaults.json";
        NullLogger log;
        {
            JsonFileStore store(path, log);
            store.setString("s", "日本語");
            store.setBoolean("b", true);
            store.setInteger("i", 9007199254740993LL);
            store.setNumber("d", 2.5);
            store.setData("blob", QByteArray("\x00\xff{}", 4));
        }
        QFileInfo info(path);
        QVERIFY(info.exists());
        QCOMPARE(info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther), 0);
        QCOMPARE(modeOf(info.absolutePath()), 0700u);

        const QJsonObject raw = QJsonDocument::fromJson(readFile(path)).object();
        QVERIFY(raw.value("b").isBool());
        QVERIFY(raw.value("blob").isObject());
        QVERIFY(raw.value("blob").toObject().contains("$data"));

        JsonFileStore again(path, log);
        QCOMPARE(again.string("s"), std::optional<QString>("日本語"));
        QCOMPARE(again.boolean("b"), std::optional<bool>(true));
        QCOMPARE(again.integer("i"), std::optional<qint64>(9007199254740993LL));
        QCOMPARE(again.number("d"), std::optional<double>(2.5));
        QCOMPARE(again.data("blob"), std::optional<QByteArray>(QByteArray("\x00\xff{}", 4)));
        // Wrong type reads as none.
        QCOMPARE(again.string("b"), std::nullopt);
        QCOMPARE(again.boolean("s"), std::nullopt);
        QCOMPARE(again.integer("d"), std::nullopt);
        QCOMPARE(again.data("s"), std::nullopt);
    }

    void unknownKeysSurviveARewrite()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/defaults.json";
        writeFile(path, R"({"future_feature": {"nested": [1, 2]}, "gemini_api_key": "k"})");
        NullLogger log;
        JsonFileStore store(path, log);
        AppSettings settings(store);
        settings.setStealthMode(true);
        const QJsonObject raw = QJsonDocument::fromJson(readFile(path)).object();
        QCOMPARE(raw.value("future_feature").toObject().value("nested").toArray().size(), 2);
        QCOMPARE(raw.value("stealth_mode"), QJsonValue(true));
        QCOMPARE(raw.value("gemini_api_key").toString(), QStringLiteral("k"));
    }

    void corruptFilesAreMovedAsideNotLost_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated JSON") << QByteArray("{\"gemini_api_key\": \"AIza");
        QTest::newRow("an array") << QByteArray("[1,2,3]");
        QTest::newRow("binary") << QByteArray("\x00\x01\x02", 3);
    }
    void corruptFilesAreMovedAsideNotLost()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.path() + "/defaults.json";
        writeFile(path, content);
        RecordingLogger log;
        JsonFileStore store(path, log);
        AppSettings settings(store);
        QCOMPARE(settings.correctionMode(), CorrectionMode::Fast);
        QVERIFY(!QFile::exists(path));
        const QStringList kept = QDir(dir.path()).entryList({"defaults.json.corrupt-*"}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY(QRegularExpression("^defaults\\.json\\.corrupt-\\d{8}T\\d{6}Z$").match(kept.first()).hasMatch());
        QCOMPARE(readFile(dir.path() + "/" + kept.first()), content);
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(log.lines().first().startsWith(QStringLiteral("⚠️")));

        settings.setStealthMode(true); // a fresh file is written beside the kept one
        QVERIFY(QFile::exists(path));
    }

    void interruptedSaveLeavesTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/defaults.json";
        const QByteArray old = R"({"gemini_api_key": "old"})";
        writeFile(path, old);

        // Abandoned before the rename.
        QVERIFY(!JsonFileStore::writeAtomically(path, "{\"gemini_api_key\": \"new\"}", [] { return false; }).isEmpty());
        QCOMPARE(readFile(path), old);

        // A process that dies between writing and renaming.
        const pid_t child = ::fork();
        if (child == 0) {
            JsonFileStore::writeAtomically(path, QByteArray(1 << 20, 'x'), [] {
                ::_exit(0);
                return true;
            });
            ::_exit(1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        QCOMPARE(readFile(path), old);
        NullLogger log;
        JsonFileStore store(path, log);
        QCOMPARE(store.string("gemini_api_key"), std::optional<QString>("old"));

        // The completed write replaces the file whole.
        QVERIFY(JsonFileStore::writeAtomically(path, "{\"gemini_api_key\": \"new\"}").isEmpty());
        JsonFileStore again(path, log);
        QCOMPARE(again.string("gemini_api_key"), std::optional<QString>("new"));
    }

    // A save that cannot be made keeps the value in memory, says why, and leaves the file as it is.
    void failedSaveKeepsTheValueInMemory_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no folder can be made (even as root)") << "blocker" << "kept in memory";
        QTest::newRow("a read-only file") << "read-only" << "read-only";
    }
    void failedSaveKeepsTheValueInMemory()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path = dir.path() + "/defaults.json";
        if (obstacle == "blocker") {
            writeFile(dir.path() + "/blocker", "x"); // a regular file where the folder should be
            path = dir.path() + "/blocker/velutanora/defaults.json";
        } else {
            writeFile(path, R"({"a": 1})");
            QFile::setPermissions(path, QFileDevice::ReadOwner);
        }
        RecordingLogger log;
        JsonFileStore store(path, log);
        AppSettings settings(store);
        settings.setGeminiApiKey("kept");
        QCOMPARE(settings.geminiApiKey(), QStringLiteral("kept"));
        QCOMPARE(store.string("gemini_api_key"), std::optional<QString>("kept"));
        QVERIFY2(log.lines().first().contains(reason), qPrintable(log.lines().first()));
        QVERIFY2(!log.lines().join('\n').contains(QStringLiteral("kept\"")), "the key itself is never logged");
        if (obstacle == "read-only") {
            QCOMPARE(readFile(path), QByteArray(R"({"a": 1})"));
            QCOMPARE(modeOf(path), 0400u);
        }
    }

    void writersSharingTheFileMergeByKey()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/defaults.json";
        NullLogger log;
        JsonFileStore gui(path, log);
        JsonFileStore cli(path, log);
        gui.setString("a", "gui");
        cli.setString("b", "cli");
        gui.setString("c", "gui again");
        JsonFileStore after(path, log);
        QCOMPARE(after.string("a"), std::optional<QString>("gui"));
        QCOMPARE(after.string("b"), std::optional<QString>("cli"));
        QCOMPARE(after.string("c"), std::optional<QString>("gui again"));
        QCOMPARE(gui.string("b"), std::optional<QString>("cli")); // read back at its last save

        // Two processes writing at once, each its own keys: none is lost.
        constexpr int kWrites = 60;
        pid_t children[2];
        for (int c = 0; c < 2; ++c) {
            children[c] = ::fork();
            if (children[c] == 0) {
                NullLogger childLog;
                JsonFileStore store(path, childLog);
                for (int i = 0; i < kWrites; ++i)
                    store.setInteger(QStringLiteral("p%1-%2").arg(c).arg(i), i);
                ::_exit(0);
            }
        }
        for (pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        JsonFileStore merged(path, log);
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < kWrites; ++i)
                QCOMPARE(merged.integer(QStringLiteral("p%1-%2").arg(c).arg(i)), std::optional<qint64>(i));
        }
    }

    void staleTemporariesOfOursAreRemoved()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/defaults.json";
        writeFile(path, R"({"a": 1})");
        writeFile(path + ".tmp-AbC123", R"({"gemini_api_key": "leaked"})");
        writeFile(dir.path() + "/elsewhere", "not ours to delete");
        QVERIFY(QFile::link(dir.path() + "/elsewhere", path + ".tmp-link"));
        writeFile(dir.path() + "/unrelated.tmp-1", "kept");
        NullLogger log;
        JsonFileStore store(path, log);
        QCOMPARE(store.integer("a"), std::optional<qint64>(1));
        QVERIFY(!QFile::exists(path + ".tmp-AbC123"));
        QVERIFY(QFileInfo(path + ".tmp-link").isSymLink());
        QCOMPARE(readFile(dir.path() + "/elsewhere"), QByteArray("not ours to delete"));
        QVERIFY(QFile::exists(dir.path() + "/unrelated.tmp-1"));
    }

    void aSymlinkedFileStaysALink()
    {
        QTemporaryDir dir;
        const QString target = dir.path() + "/dotfiles/velutanora.json";
        writeFile(target, R"({"a": 1})");
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        const QString path = dir.path() + "/config/defaults.json";
        QDir().mkpath(dir.path() + "/config");
        QVERIFY(QFile::link(target, path));
        NullLogger log;
        JsonFileStore store(path, log);
        store.setInteger("b", 2);
        QVERIFY(QFileInfo(path).isSymLink());
        const QJsonObject written = QJsonDocument::fromJson(readFile(target)).object();
        QCOMPARE(written.value("a").toInt(), 1);
        QCOMPARE(written.value("b").toInt(), 2);
        QCOMPARE(modeOf(target), 0600u);
    }

};

QTEST_GUILESS_MAIN(TestJsonFileStore)
#include "tst_JsonFileStore.moc"
