#include "settings/ShortcutKey.h"

#include <QTest>

using namespace vel;

class TestShortcutKey : public QObject {
    Q_OBJECT
private slots:
    // The names printed on PC keyboards, for what the user reads and --print-settings.
    void labels_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<qulonglong>("modifiers");
        QTest::addColumn<QString>("label");
        QTest::newRow("default start") << 49 << qulonglong(0x80000) << "Alt+Space";
        QTest::newRow("all four in order") << 0 << qulonglong(0x1E0000) << "Ctrl+Alt+Shift+Super+A";
        QTest::newRow("a lone modifier ignores bits") << 54 << qulonglong(0x1E0000) << "Right Super";
        QTest::newRow("unnamed code") << 105 << qulonglong(0x40000) << "Ctrl+Key105";
    }
    void labels()
    {
        QFETCH(int, keyCode);
        QFETCH(qulonglong, modifiers);
        QFETCH(QString, label);
        QCOMPARE((ShortcutKey{static_cast<quint16>(keyCode), modifiers}.label()), label);
    }

    void matching_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<qulonglong>("modifiers");
        QTest::addColumn<int>("eventKey");
        QTest::addColumn<qulonglong>("eventFlags");
        QTest::addColumn<bool>("expected");
        const qulonglong cmdShift = 0x120000;
        QTest::newRow("exact") << 2 << cmdShift << 2 << cmdShift << true;
        QTest::newRow("extra option fails") << 2 << cmdShift << 2 << (cmdShift | 0x80000) << false;
        QTest::newRow("caps lock ignored") << 2 << cmdShift << 2 << (cmdShift | 0x10000) << true;
        QTest::newRow("device bits ignored") << 2 << cmdShift << 2 << (cmdShift | 0x800000 | 0x8) << true;
        QTest::newRow("other key") << 2 << cmdShift << 3 << cmdShift << false;
        QTest::newRow("command A vs command shift A") << 0 << qulonglong(0x100000) << 0 << cmdShift << false;
        QTest::newRow("lone modifier any flags") << 54 << qulonglong(0) << 54 << qulonglong(0x1E0000) << true;
        QTest::newRow("lone modifier other side") << 54 << qulonglong(0x100000) << 55 << qulonglong(0x100000) << false;
    }
    void matching()
    {
        QFETCH(int, keyCode);
        QFETCH(qulonglong, modifiers);
        QFETCH(int, eventKey);
        QFETCH(qulonglong, eventFlags);
        QFETCH(bool, expected);
        const ShortcutKey key{static_cast<quint16>(keyCode), modifiers};
        QCOMPARE(key.matches(static_cast<quint16>(eventKey), eventFlags), expected);
    }

    void json_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::newRow("default") << QByteArray(R"({"keyCode":49,"modifiers":524288})") << true;
        QTest::newRow("extra key ignored") << QByteArray(R"({"keyCode":49,"modifiers":0,"x":1})") << true;
        QTest::newRow("missing modifiers") << QByteArray(R"({"keyCode":49})") << false;
        QTest::newRow("key code too big") << QByteArray(R"({"keyCode":70000,"modifiers":0})") << false;
        QTest::newRow("negative") << QByteArray(R"({"keyCode":-1,"modifiers":0})") << false;
        QTest::newRow("fraction") << QByteArray(R"({"keyCode":4.5,"modifiers":0})") << false;
        QTest::newRow("string") << QByteArray(R"({"keyCode":"49","modifiers":0})") << false;
        QTest::newRow("array") << QByteArray("[49,0]") << false;
    }
    void json()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        QCOMPARE(ShortcutKey::fromJson(json).has_value(), valid);
    }

    void jsonRoundTrip()
    {
        const ShortcutKey key{117, 0x140000};
        QCOMPARE(ShortcutKey::fromJson(key.toJson()), key);
    }
};

QTEST_GUILESS_MAIN(TestShortcutKey)
#include "tst_ShortcutKey.moc"
