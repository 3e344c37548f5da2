#include "settings/UsageTracker.h"
#include "support/MemoryStore.h"

#include <QJsonValue>
#include <QTest>

#include <limits>

using namespace vel;
using vel::test::MemoryStore;

class TestUsageTracker : public QObject {
    Q_OBJECT
private slots:
    void recordUsage()
    {
        MemoryStore store;
        UsageTracker tracker(store);
        UsageMetadata usage;
        usage.promptTokenCount = 120;
        tracker.recordUsage(usage);
        QCOMPARE(tracker.totalRequests(), 1);
        QCOMPARE(tracker.totalInputTokens(), 120);
        QCOMPARE(tracker.totalOutputTokens(), 0);
        QCOMPARE(tracker.totalThinkingTokens(), 0);
        QCOMPARE(store.writes().size(), 1); // one save for the four counters

        usage = {10, 20, 999, 30};
        tracker.recordUsage(usage);
        QCOMPARE(tracker.totalRequests(), 2);
        QCOMPARE(tracker.totalInputTokens(), 130);
        QCOMPARE(tracker.totalOutputTokens(), 20);
        QCOMPARE(tracker.totalThinkingTokens(), 30);
        QCOMPARE(store.integer("UsageTracker.totalInputTokens"), std::optional<qint64>(130));

        // Another process counted a request meanwhile: both count.
        store.seed("UsageTracker.totalRequests", 10);
        tracker.recordUsage({});
        QCOMPARE(tracker.totalRequests(), 11);
    }

    // Counters stop at the largest count and never go below zero, whatever the store held.
    void countersStayCounts_data()
    {
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<qint64>("loaded");
        QTest::addColumn<qint64>("afterOneRequest");
        QTest::newRow("near the top") << QJsonValue(max - 5) << max << max;
        QTest::newRow("past the top (1e19)") << QJsonValue(1e19) << max << max;
        QTest::newRow("negative") << QJsonValue(-42) << qint64(0) << qint64(100);
    }
    void countersStayCounts()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(qint64, loaded);
        QFETCH(qint64, afterOneRequest);
        MemoryStore store;
        store.setValue("UsageTracker.totalInputTokens", stored);
        UsageTracker tracker(store);
        QCOMPARE(tracker.totalInputTokens(), loaded);
        tracker.recordUsage({100, 1, 0, 0});
        QCOMPARE(tracker.totalInputTokens(), afterOneRequest);
        QCOMPARE(store.integer("UsageTracker.totalInputTokens"), std::optional<qint64>(afterOneRequest));
        QCOMPARE(tracker.totalOutputTokens(), 1);
    }

    void resetZeroesEverything()
    {
        MemoryStore store;
        store.seed("UsageTracker.totalRequests", "junk");
        store.seed("UsageTracker.totalInputTokens", 700);
        store.seed("UsageTracker.totalOutputTokens", 1000);
        store.seed("UsageTracker.totalThinkingTokens", 100);
        UsageTracker tracker(store);
        QCOMPARE(tracker.totalRequests(), 0);
        QVERIFY(qAbs(tracker.estimatedCost() - (0.000105 + 0.0006 + 0.00035)) < 1e-12); // each at its own rate
        tracker.reset();
        QCOMPARE(tracker.estimatedCost(), 0.0);
        for (const char* key : {"UsageTracker.totalRequests", "UsageTracker.totalInputTokens",
                                "UsageTracker.totalOutputTokens", "UsageTracker.totalThinkingTokens"})
            QCOMPARE(store.integer(QString::fromLatin1(key)), std::optional<qint64>(0));
    }
};

QTEST_GUILESS_MAIN(TestUsageTracker)
#include "tst_UsageTracker.moc"
