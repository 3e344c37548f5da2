#include "common/Clock.h"
#include "settings/RecordingHistory.h"
#include "support/MemoryStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vel;
using vel::test::MemoryStore;

class TestRecordingHistory : public QObject {
    Q_OBJECT
private slots:
    void purgeBoundary_data()
    {
        QTest::addColumn<double>("age");
        QTest::addColumn<bool>("kept");
        QTest::newRow("7 days and 1 second") << 604801.0 << false;
        QTest::newRow("exactly 7 days") << 604800.0 << true;
        QTest::newRow("just now") << 0.0 << true;
    }
    void purgeBoundary()
    {
        QFETCH(double, age);
        QFETCH(bool, kept);
        ManualClock clock;
        MemoryStore store;
        const double now = referenceDateFromUnix(clock.now());
        store.seedData("recording_history", RecordingHistory::encode({{QUuid::createUuid(), "a", {}, now - age, {}, {}}}));
        RecordingHistory history(store, clock);
        QCOMPARE(history.entries().size(), kept ? 1 : 0);
        // Only a purge that removed something rewrites the blob.
        QCOMPARE(store.writes().size(), kept ? 0 : 1);
    }

    void badEntriesAreSkippedAndTheOriginalKept_data()
    {
        const QByteArray good = R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","text":"good","date":1000})";
        const auto with = [&good](const char* bad) {
            QByteArray blob = good;
            blob.prepend('[').append(',').append(bad).append(']');
            return blob;
        };
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<int>("kept");
        QTest::newRow("no date") << with(R"({"id":"0E7C8B9D-4B1A-4F64-9C77-2A8D7C1B5E11","text":"a"})") << 1;
        QTest::newRow("date beyond year 9999")
            << with(R"({"id":"0E7C8B9D-4B1A-4F64-9C77-2A8D7C1B5E11","text":"a","date":1e300})") << 1;
        QTest::newRow("bad id") << with(R"({"id":"not-a-uuid","text":"a","date":1})") << 1;
        QTest::newRow("repeated id") << with(good.constData()) << 1;
        QTest::newRow("originalText a number")
            << with(R"({"id":"0E7C8B9D-4B1A-4F64-9C77-2A8D7C1B5E11","text":"a","date":1,"originalText":3})") << 1;
        QTest::newRow("not an object") << with("7") << 1;
        QTest::newRow("not an array") << QByteArray(R"({"id":1})") << 0;
    }
    void badEntriesAreSkippedAndTheOriginalKept()
    {
        QFETCH(QByteArray, blob);
        QFETCH(int, kept);
        ManualClock clock(kReferenceDateOffset + 2000);
        MemoryStore store;
        store.seedData("recording_history", blob);
        RecordingHistory history(store, clock);
        QCOMPARE(history.entries().size(), kept);
        if (kept)
            QCOMPARE(history.entries().first().text, QStringLiteral("good"));
        QCOMPARE(store.asides().size(), 1);
        QCOMPARE(store.asides().first().bytes, blob);

        history.add(history.makeEntry("new", {}));
        QCOMPARE(RecordingHistory::decode(*store.data("recording_history"))->size(), kept + 1);
    }

    void writersSharingTheStoreMergeById()
    {
        ManualClock clock;
        MemoryStore store;
        RecordingHistory gui(store, clock);
        RecordingHistory cli(store, clock);
        gui.add(gui.makeEntry("gui 1", {}));
        clock.advance(1);
        cli.add(cli.makeEntry("cli", {}));
        clock.advance(1);
        gui.add(gui.makeEntry("gui 2", {}));
        QStringList texts;
        for (const RecordingEntry& e : gui.entries())
            texts << e.text;
        QCOMPARE(texts, (QStringList{"gui 2", "cli", "gui 1"}));

        // A deletion in one is not undone by the other's next save.
        cli.deleteAtOffsets({0}); // its own entry
        gui.add(gui.makeEntry("gui 3", {}));
        texts.clear();
        const auto stored = RecordingHistory::decode(*store.data("recording_history"));
        for (const RecordingEntry& e : *stored)
            texts << e.text;
        QCOMPARE(texts, (QStringList{"gui 3", "gui 2", "gui 1"}));

        gui.deleteAtOffsets({0, 2}); // offsets of the list as it was
        QCOMPARE(gui.entries().size(), 1);
        QCOMPARE(gui.entries().first().text, QStringLiteral("gui 2"));
        gui.clear();
        QVERIFY(gui.entries().isEmpty());
        QCOMPARE(RecordingHistory::decode(*store.data("recording_history"))->size(), 0);
    }

    void encodingShape()
    {
        ManualClock clock(978307200.0 + 1000.5);
        MemoryStore store;
        RecordingHistory history(store, clock);
        history.add(history.makeEntry("一つ目", {}));
        history.add(history.makeEntry("二つ目", QStringLiteral("にっつめ")));
        const QJsonArray array = QJsonDocument::fromJson(*store.data("recording_history")).array();
        QCOMPARE(array.size(), 2);
        const QJsonObject newest = array.at(0).toObject();
        const QJsonObject oldest = array.at(1).toObject();
        QCOMPARE(newest.value("text").toString(), QStringLiteral("二つ目"));
        QCOMPARE(newest.value("originalText").toString(), QStringLiteral("にっつめ"));
        QVERIFY2(!oldest.contains("originalText"), "an absent originalText is omitted, never null");
        QCOMPARE(oldest.value("date").toDouble(), 1000.5);
        const QString id = oldest.value("id").toString();
        QCOMPARE(id, id.toUpper());
        QCOMPARE(id.size(), 36);

        RecordingHistory reloaded(store, clock);
        QCOMPARE(reloaded.entries(), history.entries());
        QVERIFY(!reloaded.entries().at(1).originalText.has_value());
    }
};

QTEST_GUILESS_MAIN(TestRecordingHistory)
#include "tst_RecordingHistory.moc"
