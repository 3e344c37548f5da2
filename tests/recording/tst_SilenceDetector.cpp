#include "recording/SilenceDetector.h"

#include <QTest>

using namespace vel;

namespace {

// A stretch of ticks at one level; text marks a change of the recognised text on its first tick.
struct Stretch {
    float level;
    int ticks;
    bool text = false;
};

struct Run {
    QList<std::optional<int>> countdowns; // every change
    int firings = 0;
    int firstThreeAt = -1;
    int firedAt = -1;
};

Run feed(double silenceSeconds, const QList<Stretch>& script)
{
    SilenceDetector detector(silenceSeconds, QStringLiteral("|"), 0.0);
    Run run;
    std::optional<int> last;
    int tick = 0;
    QString text;
    for (const Stretch& stretch : script) {
        for (int i = 0; i < stretch.ticks; ++i, ++tick) {
            if (stretch.text && i == 0)
                text += QStringLiteral("あ");
            const SilenceDetector::Tick t = detector.tick(stretch.level, QStringLiteral("|") + text, text, tick * 0.1);
            if (detector.countdown() != last) {
                last = detector.countdown();
                run.countdowns.append(last);
                if (last == 3 && run.firstThreeAt < 0)
                    run.firstThreeAt = tick;
            }
            if (t.fired) {
                ++run.firings;
                run.firedAt = tick;
            }
        }
    }
    return run;
}

using Countdowns = QList<std::optional<int>>;

} // namespace

Q_DECLARE_METATYPE(QList<Stretch>)

class TestSilenceDetector : public QObject {
    Q_OBJECT
private slots:
    void countdown_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QList<Stretch>>("script");
        QTest::addColumn<Countdowns>("countdowns");
        QTest::addColumn<int>("threeToFire"); // ticks from the 3 to the firing; -1: never fires
        const Countdowns full{3, 2, 1, 0};
        QTest::newRow("3 s after speech") << 3.0 << QList<Stretch>{{0.3f, 20}, {0.0f, 60}} << full << 27;
        QTest::newRow("1.5 s") << 1.5 << QList<Stretch>{{0.3f, 20}, {0.0f, 60}} << full << 12;
        QTest::newRow("5 s") << 5.0 << QList<Stretch>{{0.3f, 20}, {0.0f, 80}} << full << 47;
        QTest::newRow("two loud ticks are a cough")
            << 3.0 << QList<Stretch>{{0.3f, 20}, {0.0f, 15}, {0.6f, 2}, {0.0f, 60}} << full << 27;
        QTest::newRow("three loud ticks are speech again")
            << 3.0 << QList<Stretch>{{0.3f, 20}, {0.0f, 15}, {0.6f, 3}, {0.0f, 60}}
            << Countdowns{3, 2, std::nullopt, 3, 2, 1, 0} << -1;
        QTest::newRow("no level: from the last text")
            << 3.0 << QList<Stretch>{{0.0f, 10}, {0.0f, 60, true}} << full << 27;
        QTest::newRow("new text stops the countdown")
            << 3.0 << QList<Stretch>{{0.0f, 10}, {0.0f, 15, true}, {0.0f, 60, true}}
            << Countdowns{3, 2, std::nullopt, 3, 2, 1, 0} << -1;
        QTest::newRow("nothing said") << 3.0 << QList<Stretch>{{0.0f, 200}} << Countdowns{} << -1;
    }
    void countdown()
    {
        QFETCH(double, seconds);
        QFETCH(QList<Stretch>, script);
        QFETCH(Countdowns, countdowns);
        QFETCH(int, threeToFire);
        const Run run = feed(seconds, script);
        QCOMPARE(run.countdowns, countdowns);
        QCOMPARE(run.firings, countdowns.isEmpty() ? 0 : 1); // stays at 0: fires once
        if (threeToFire >= 0)
            QCOMPARE(run.firedAt - run.firstThreeAt, threeToFire);
    }

};

QTEST_GUILESS_MAIN(TestSilenceDetector)
#include "tst_SilenceDetector.moc"
