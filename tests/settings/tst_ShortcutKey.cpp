#include "settings/ShortcutKey.h"

#include <QTest>

using namespace vel;

class TestShortcutKey : public QObject {
    Q_OBJECT
private slots:
    void display_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<qulonglong>("modifiers");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("label"); // as PC keyboards name it
        QTest::newRow("default start") << 49 << qulonglong(0x80000) << "⌥Space" << "Alt+Space";
        QTest::newRow("command shift A") << 0 << qulonglong(0x120000) << "⇧⌘A" << "Shift+Super+A";
        QTest::newRow("all four in order") << 0 << qulonglong(0x1E0000) << "⌃⌥⇧⌘A" << "Ctrl+Alt+Shift+Super+A";
        QTest::newRow("command A") << 0 << qulonglong(0x100000) << "⌘A" << "Super+A";
        QTest::newRow("right command ignores bits") << 54 << qulonglong(0x1E0000) << "Right ⌘" << "Right Super";
        QTest::newRow("fn") << 63 << qulonglong(0) << "fn" << "Fn";
        QTest::newRow("unnamed code") << 105 << qulonglong(0x40000) << "⌃Key105" << "Ctrl+Key105";
        QTest::newRow("key 93") << 93 << qulonglong(0) << "Key93" << "Key93";
        QTest::newRow("backslash") << 42 << qulonglong(0) << "\\" << "\\";
        QTest::newRow("grave") << 50 << qulonglong(0) << "`" << "`";
        QTest::newRow("forward delete") << 117 << qulonglong(0) << "Forward Delete" << "Delete";
        QTest::newRow("arrow up") << 126 << qulonglong(0) << "↑" << "Up";
        QTest::newRow("F5") << 96 << qulonglong(0) << "F5" << "F5";
        QTest::newRow("F3 between F7 and F8") << 99 << qulonglong(0) << "F3" << "F3";
        QTest::newRow("6 before 5") << 22 << qulonglong(0) << "6" << "6";
        QTest::newRow("no entry 10") << 10 << qulonglong(0) << "Key10" << "Key10";
        QTest::newRow("no entry 127") << 127 << qulonglong(0) << "Key127" << "Key127";
        QTest::newRow("right control alone") << 62 << qulonglong(0) << "Right ⌃" << "Right Ctrl";
        QTest::newRow("left option alone") << 58 << qulonglong(0) << "Left ⌥" << "Left Alt";
        QTest::newRow("control shift D") << 2 << qulonglong(0x60000) << "⌃⇧D" << "Ctrl+Shift+D";
        QTest::newRow("return") << 36 << qulonglong(0) << "Return" << "Enter";
        QTest::newRow("delete is backspace") << 51 << qulonglong(0x40000) << "⌃Delete" << "Ctrl+Backspace";
        QTest::newRow("esc") << 53 << qulonglong(0) << "Esc" << "Esc";
    }
    void display()
    {
        QFETCH(int, keyCode);
        QFETCH(qulonglong, modifiers);
        QFETCH(QString, expected);
        QFETCH(QString, label);
        const ShortcutKey key{static_cast<quint16>(keyCode), modifiers};
        QCOMPARE(key.displayString(), expected);
        QCOMPARE(key.label(), label);
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
