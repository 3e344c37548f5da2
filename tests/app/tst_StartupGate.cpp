#include "app/StartupGate.h"

#include <QtTest>

using namespace vel;

class TestStartupGate : public QObject {
    Q_OBJECT

private slots:
    void commandsAroundTheStartUp_data()
    {
        QTest::addColumn<QStringList>("before"); // commands while the model is checked
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("deliveredBefore");
        QTest::addColumn<QStringList>("delivered"); // everything, once the gate has opened and "after" ran
        QTest::newRow("the launching toggle starts once") << QStringList{"toggle"} << QStringList{} << QStringList{}
                                                          << QStringList{"toggle"};
        QTest::newRow("the next press stops it") << QStringList{"toggle"} << QStringList{"toggle"} << QStringList{}
                                                 << QStringList{"toggle", "toggle"};
        QTest::newRow("two early presses cancel out") << QStringList{"toggle", "toggle"} << QStringList{}
                                                      << QStringList{} << QStringList{};
        QTest::newRow("three early presses start once") << QStringList{"toggle", "toggle", "toggle"} << QStringList{}
                                                        << QStringList{} << QStringList{"toggle"};
        QTest::newRow("cancel drops a waiting toggle") << QStringList{"toggle", "cancel"} << QStringList{}
                                                       << QStringList{} << QStringList{};
        QTest::newRow("show is never held") << QStringList{"show", "toggle"} << QStringList{"cancel"}
                                            << QStringList{"show"} << QStringList{"show", "toggle", "cancel"};
    }

    void commandsAroundTheStartUp()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QStringList, deliveredBefore);
        QFETCH(QStringList, delivered);
        QStringList got;
        StartupGate gate([&](const QString& command) { got << command; });
        for (const QString& command : before)
            gate.handle(command);
        QCOMPARE(got, deliveredBefore);
        gate.open();
        gate.open();
        for (const QString& command : after)
            gate.handle(command);
        QCOMPARE(got, delivered);
    }
};

QTEST_GUILESS_MAIN(TestStartupGate)
#include "tst_StartupGate.moc"
