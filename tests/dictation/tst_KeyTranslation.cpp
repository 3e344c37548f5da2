#include "dictation/KeyTranslation.h"
#include "settings/ShortcutKey.h"

#include <QTest>

using namespace vel;
namespace KT = vel::KeyTranslation;

class TestKeyTranslation : public QObject {
    Q_OBJECT
private slots:
    void keysyms_data()
    {
        QTest::addColumn<uint>("keysym");
        QTest::addColumn<int>("virtualKey");
        QTest::addColumn<QString>("display");
        QTest::newRow("A upper") << uint('A') << 0 << "A";
        QTest::newRow("5 before 6") << uint('5') << 23 << "5";
        QTest::newRow("Control_R") << 0xffe4u << 62 << "Right Ctrl";
        QTest::newRow("AltGr") << 0xfe03u << 61 << "Right Alt";
        QTest::newRow("Henkan") << 0xff23u << 104 << "Key104";
    }
    void keysyms()
    {
        QFETCH(uint, keysym);
        QFETCH(int, virtualKey);
        QFETCH(QString, display);
        const auto vk = KT::virtualKeyForKeysym(keysym);
        QVERIFY(vk);
        QCOMPARE(int(*vk), virtualKey);
        QCOMPARE((ShortcutKey{*vk, 0}.label()), display);
        if (keysym >= 'A' && keysym <= 'Z')
            return;
        QVERIFY(KT::keysymsForVirtualKey(*vk).contains(keysym));
    }

    void everyNamedKeyHasAKeysymButFn()
    {
        for (int code = 0; code < 128; ++code) {
            const ShortcutKey key{static_cast<quint16>(code), 0};
            if (key.keyName().startsWith("Key") || code == 63)
                continue;
            QVERIFY2(!KT::keysymsForVirtualKey(static_cast<quint16>(code)).isEmpty(), qPrintable(key.keyName()));
        }
        QVERIFY(KT::keysymsForVirtualKey(63).isEmpty());
        QVERIFY(!KT::virtualKeyForKeysym(0xff61)); // Print has no virtual key
    }

    void modifierMasks()
    {
        QCOMPARE(KT::modifierBitsForXState(1 | 4 | 8 | 64), quint64(ShortcutKey::RelevantModifiers));
        QCOMPARE(KT::modifierBitsForXState(2 | 16), quint64(0)); // Lock and NumLock are ignored
        QCOMPARE(KT::xStateForModifierBits(ShortcutKey::Option), 8u);
        QCOMPARE(KT::xStateForModifierBits(ShortcutKey::Command | ShortcutKey::Shift), 65u);
        QVERIFY(KT::isModifierKeysym(0xffe9));
        QVERIFY(!KT::isModifierKeysym(0xffe5)); // Caps Lock would toggle
    }
};

QTEST_GUILESS_MAIN(TestKeyTranslation)
#include "tst_KeyTranslation.moc"
