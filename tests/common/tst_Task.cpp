#include "common/Clock.h"
#include "common/Task.h"

#include <QTest>

#include <stdexcept>

using namespace vel;

namespace {

Task<int> addLater(Clock& clock, int a, int b, QStringList& trace)
{
    trace << "add:start";
    co_await sleepFor(clock, 1.0);
    trace << "add:woke";
    co_return a + b;
}

Task<void> outer(Clock& clock, QStringList& trace, int& result, double& finishedAt)
{
    trace << "outer:start";
    result = co_await addLater(clock, 2, 3, trace);
    co_await sleepFor(clock, 0.25);
    finishedAt = clock.now();
    trace << "outer:end";
}

Task<void> longSleep(Clock& clock, bool& ranAfterSleep, bool& sawCancel)
{
    co_await sleepFor(clock, 10.0);
    ranAfterSleep = true; // a cancelled sleep never aborts the step
    sawCancel = co_await taskCancelled();
}

Task<void> awaitCompletion(Completion<QString> completion, QString& got)
{
    got = co_await completion;
}

// Marks its steps; the frame holds a copy of token while it exists.
Task<void> ownedSteps(Clock& clock, Completion<QString> reply, QStringList& steps, [[maybe_unused]] std::shared_ptr<int> token)
{
    steps << "start";
    co_await sleepFor(clock, 1.0);
    steps << "slept";
    const QString answer = co_await reply;
    steps << answer;
}

} // namespace

class TestTask : public QObject {
    Q_OBJECT
private slots:
    void sequenceReadsTopToBottomOnSimulatedTime()
    {
        ManualClock clock;
        QStringList trace;
        int result = 0;
        const double t0 = clock.now();
        double finishedAt = 0;
        TaskHandle handle = spawn(outer(clock, trace, result, finishedAt));
        QVERIFY2(trace.isEmpty(), "a spawned task starts from the event loop, not inside spawn()");
        ManualClock::drainPostedWork();
        QCOMPARE(trace, (QStringList{"outer:start", "add:start"}));
        clock.advance(0.9);
        QVERIFY(!handle.isFinished());
        clock.advance(0.4);
        QVERIFY(handle.isFinished());
        QCOMPARE(result, 5);
        QCOMPARE(finishedAt - t0, 1.25);
        QCOMPARE(trace.last(), QStringLiteral("outer:end"));
    }

    void cancellationShortensSleepsAndIsSeen()
    {
        ManualClock clock;
        bool sawCancel = false;
        bool ranAfterSleep = false;
        TaskHandle handle = spawn(longSleep(clock, ranAfterSleep, sawCancel));
        ManualClock::drainPostedWork();
        handle.cancel();
        ManualClock::drainPostedWork();
        QVERIFY(handle.isFinished());
        QVERIFY(ranAfterSleep);
        QVERIFY(sawCancel);
        QCOMPARE(clock.pendingTimerCount(), 0);
    }

    void completionResumesFromTheLoop()
    {
        Completion<QString> completion;
        QString got;
        TaskHandle handle = spawn(awaitCompletion(completion, got));
        ManualClock::drainPostedWork();
        completion.resolve("done");
        QVERIFY2(got.isEmpty(), "resolve() never resumes the waiter inside itself");
        ManualClock::drainPostedWork();
        QCOMPARE(got, QStringLiteral("done"));
        QVERIFY(handle.isFinished());
    }

    // A task bound to an owner that goes away at any wait is never resumed again, and its frames
    // are freed; one that outlives its owner's waits ends as usual.
    void tasksEndWithTheirOwner_data()
    {
        QTest::addColumn<int>("ownerGoneAfter"); // steps taken before the owner goes; -1: stays
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("before it starts") << 0 << QStringList{};
        QTest::newRow("while it sleeps") << 1 << QStringList{"start"};
        QTest::newRow("while it waits for a reply") << 2 << QStringList{"start", "slept"};
        QTest::newRow("owner stays") << -1 << QStringList{"start", "slept", "answer"};
    }
    void tasksEndWithTheirOwner()
    {
        QFETCH(int, ownerGoneAfter);
        QFETCH(QStringList, steps);
        ManualClock clock;
        auto owner = std::make_unique<QObject>();
        Completion<QString> reply;
        QStringList taken;
        auto token = std::make_shared<int>();
        TaskHandle handle = spawn(owner.get(), ownedSteps(clock, reply, taken, token));
        bool waiterRan = false;
        spawn([](TaskHandle h, bool& ran) -> Task<void> {
            co_await h.finished();
            ran = true;
        }(handle, waiterRan));
        for (int step = 0; step < 3; ++step) {
            if (step == ownerGoneAfter)
                owner.reset();
            if (step == 1)
                clock.advance(1.0);
            if (step == 2)
                reply.resolve(QStringLiteral("answer"));
            ManualClock::drainPostedWork();
        }
        QCOMPARE(taken, steps);
        QVERIFY(handle.isFinished());
        QCOMPARE(token.use_count(), 1); // the frame is gone
        QVERIFY2(waiterRan, "those who wait for it are told it ended");
    }

};

QTEST_GUILESS_MAIN(TestTask)
#include "tst_Task.moc"
