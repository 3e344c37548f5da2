#include "settings/ShortcutKey.h"

#include <QTest>

using namespace vel;

namespace {
constexpr quint32 kControlR = 0xffe4, kSuperL = 0xffeb, kSuperR = 0xffec;
constexpr quint8 kAll = ShortcutKey::AllModifiers;
} // namespace

class TestShortcutKey : public QObject {
    Q_OBJECT
private slots:
    // The names printed on PC keyboards, for what the user reads and --print-settings.
    void labels_data()
    {
        QTest::addColumn<uint>("keysym");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("label");
        QTest::newRow("default start") << uint(ShortcutKey::kSpace) << int(ShortcutKey::Alt) << "Alt+Space";
        QTest::newRow("all four in order") << uint('a') << int(kAll) << "Ctrl+Alt+Shift+Super+A";
        QTest::newRow("a lone modifier ignores modifiers") << uint(kSuperR) << int(kAll) << "右Super";
        QTest::newRow("function key") << 0xffc6u << int(ShortcutKey::Super) << "Super+F9";
        QTest::newRow("a Japanese key") << 0xff22u << 0 << "無変換";
        QTest::newRow("a keysym without a name") << 0x1008ff12u << int(ShortcutKey::Ctrl) << "Ctrl+Key 0x1008ff12";
    }
    void labels()
    {
        QFETCH(uint, keysym);
        QFETCH(int, modifiers);
        QFETCH(QString, label);
        QCOMPARE((ShortcutKey{keysym, quint8(modifiers)}.label()), label);
    }

    void matching_data()
    {
        QTest::addColumn<uint>("keysym");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<uint>("eventKeysym");
        QTest::addColumn<int>("eventModifiers");
        QTest::addColumn<bool>("expected");
        const int superShift = ShortcutKey::Super | ShortcutKey::Shift;
        QTest::newRow("exact") << uint('d') << superShift << uint('d') << superShift << true;
        QTest::newRow("an extra Alt fails") << uint('d') << superShift << uint('d') << (superShift | ShortcutKey::Alt) << false;
        QTest::newRow("other key") << uint('d') << superShift << uint('f') << superShift << false;
        QTest::newRow("Super+A is not Super+Shift+A") << uint('a') << int(ShortcutKey::Super) << uint('a') << superShift << false;
        QTest::newRow("a lone modifier with anything held") << uint(kSuperR) << 0 << uint(kSuperR) << int(kAll) << true;
        QTest::newRow("a lone modifier's other side") << uint(kSuperR) << 0 << uint(kSuperL) << int(ShortcutKey::Super) << false;
    }
    void matching()
    {
        QFETCH(uint, keysym);
        QFETCH(int, modifiers);
        QFETCH(uint, eventKeysym);
        QFETCH(int, eventModifiers);
        QFETCH(bool, expected);
        QCOMPARE((ShortcutKey{keysym, quint8(modifiers)}.matches(eventKeysym, quint8(eventModifiers))), expected);
    }

    // Today's records, and those of earlier versions (their key codes and modifier bits),
    // which are read as the same keys and reported as old so that they are stored again.
    void json_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("label"); // empty: unreadable
        QTest::addColumn<bool>("legacy");
        QTest::newRow("today's") << QByteArray(R"({"keysym":32,"modifiers":4})") << "Alt+Space" << false;
        QTest::newRow("a lone modifier drops its modifiers") << QByteArray(R"({"keysym":65508,"modifiers":2})") << "右Ctrl" << false;
        QTest::newRow("modifiers out of range") << QByteArray(R"({"keysym":32,"modifiers":16})") << "" << false;
        QTest::newRow("keysym 0") << QByteArray(R"({"keysym":0,"modifiers":0})") << "" << false;
        QTest::newRow("old default start") << QByteArray(R"({"keyCode":49,"modifiers":524288})") << "Alt+Space" << true;
        QTest::newRow("old Super+Shift+Q") << QByteArray(R"({"keyCode":12,"modifiers":1179648})") << "Shift+Super+Q" << true;
        QTest::newRow("old Right Ctrl with its bit") << QByteArray(R"({"keyCode":62,"modifiers":262144})") << "右Ctrl" << true;
        QTest::newRow("old F9, device bits ignored") << QByteArray(R"({"keyCode":101,"modifiers":1048840})") << "Super+F9" << true;
        QTest::newRow("old fn: no PC key") << QByteArray(R"({"keyCode":63,"modifiers":0})") << "" << false;
        QTest::newRow("missing modifiers") << QByteArray(R"({"keyCode":49})") << "" << false;
        QTest::newRow("fraction") << QByteArray(R"({"keyCode":4.5,"modifiers":0})") << "" << false;
        QTest::newRow("string") << QByteArray(R"({"keysym":"32","modifiers":0})") << "" << false;
        QTest::newRow("array") << QByteArray("[49,0]") << "" << false;
    }
    void json()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, label);
        QFETCH(bool, legacy);
        bool wasLegacy = true;
        const auto key = ShortcutKey::fromJson(json, &wasLegacy);
        QCOMPARE(key ? key->label() : QString(), label);
        if (key) {
            QCOMPARE(wasLegacy, legacy);
            QCOMPARE(ShortcutKey::fromJson(key->toJson()), key); // what is stored again reads back the same
        }
    }
};

QTEST_GUILESS_MAIN(TestShortcutKey)
#include "tst_ShortcutKey.moc"
