#include "common/Clock.h"
#include "common/Logger.h"
#include "app/Autostart.h"
#include "app/UpdaterService.h"
#include "app/VelutanoraApp.h"
#include "settings/AppSettings.h"
#include "support/FakeGeminiServer.h"
#include "support/MemoryStore.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace vel;
using namespace vel::test;

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void trayIconNames_data()
    {
        QTest::addColumn<bool>("stealth");
        QTest::addColumn<bool>("completion");
        QTest::addColumn<bool>("rewriting");
        QTest::addColumn<bool>("pipeline");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<int>("countdown"); // -1: none
        QTest::addColumn<bool>("continuous");
        QTest::addColumn<QString>("name");
        QTest::newRow("no stealth ignores the rest") << false << true << true << true << true << 2 << true << "mic.fill";
        QTest::newRow("stealth completion") << true << true << true << true << true << 2 << true << "checkmark.circle.fill";
        QTest::newRow("stealth countdown 0") << true << false << false << false << true << 0 << true << "mic.fill";
        QTest::newRow("countdown without continuous") << true << false << false << false << true << 3 << false << "mic.fill";
    }
    void trayIconNames()
    {
        QFETCH(bool, stealth);
        QFETCH(bool, completion);
        QFETCH(bool, rewriting);
        QFETCH(bool, pipeline);
        QFETCH(bool, recording);
        QFETCH(int, countdown);
        QFETCH(bool, continuous);
        QFETCH(QString, name);
        const std::optional<int> c = countdown < 0 ? std::nullopt : std::optional<int>(countdown);
        QCOMPARE(VelutanoraApp::iconNameFor(stealth, completion, rewriting, pipeline, recording, c, continuous), name);
    }

    void updater()
    {
        FakeGeminiServer feed;
        QVERIFY(feed.listen());
        RecordingLogger log;
        ManualClock clock;
        MemoryStore store;
        AppSettings settings(store);
        QNetworkAccessManager network;
        UpdaterService updater(log, clock, settings, network, QStringLiteral("0.1.0"));
        QVERIFY2(!updater.canCheckForUpdates(), "no feed, no check");
        store.seed("update_feed_url", feed.baseUrl() + "/feed.json");
        QVERIFY(updater.canCheckForUpdates());

        feed.setOtherReply(FakeReply::raw(QByteArray("{\"version\":\"0.2.0\",\"url\":\"https:\\/\\/example.invalid\\/dl\",\"notes\":\"新機能\"}")));
        QSignalSpy checked(&updater, &UpdaterService::checked);
        updater.checkForUpdates(true);
        QVERIFY2(!updater.canCheckForUpdates(), "not while a check runs");
        QTRY_COMPARE(checked.count(), 1);
        QCOMPARE(checked.first().at(0).value<UpdaterService::Outcome>(), UpdaterService::Outcome::UpdateAvailable);
        QCOMPARE(updater.lastRelease().notes, QStringLiteral("新機能"));
        QVERIFY(updater.canCheckForUpdates());

        // Automatic checks: stored, and at most once a day.
        const qsizetype before = feed.requests().size();
        updater.setAutomaticallyChecksForUpdates(true);
        QVERIFY(settings.automaticallyChecksForUpdates());
        updater.start();
        QTest::qWait(100);
        QCOMPARE(feed.requests().size(), before); // the last check was just now
        clock.advance(86400 + 3600);
        QTRY_COMPARE(feed.requests().size(), before + 1);
        clock.advance(3600 * 5);
        QTest::qWait(100);
        QCOMPARE(feed.requests().size(), before + 1);
        QVERIFY(UpdaterService::isNewer("1.10.0", "1.9.3"));
        QVERIFY(!UpdaterService::isNewer("garbage", "1.0"));
    }

    void autostartEntry()
    {
        QTemporaryDir dir;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        QCOMPARE(Autostart::entryPath(), dir.path() + "/autostart/velutanora.desktop");
        QVERIFY(Autostart::apply(true, "/opt/velutanora/bin/velutanora").isEmpty());
        QFile f(Autostart::entryPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(text.contains("Exec=\"/opt/velutanora/bin/velutanora\" --autostart\n"));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(Autostart::apply(false, {}).isEmpty());
        QVERIFY(!QFile::exists(Autostart::entryPath()));
    }
};

QTEST_MAIN(TestShell)
#include "tst_Shell.moc"
