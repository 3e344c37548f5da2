#include "dictation/KeyTranslation.h"
#include "settings/ShortcutKey.h"

#include <QTest>

using namespace vel;
namespace KT = vel::KeyTranslation;

class TestKeyTranslation : public QObject {
    Q_OBJECT
private slots:
    void keysyms()
    {
        QCOMPARE(KT::normalizedKeysym('Q'), quint32('q'));
        QCOMPARE(KT::normalizedKeysym(0xfe03), quint32(0xffea)); // AltGr is Right Alt
        QCOMPARE(KT::layoutKeysyms(0xffea), (QList<quint32>{0xffea, 0xfe03}));
        QCOMPARE(KT::keysymsForChord('v', ShortcutKey::Ctrl | ShortcutKey::Shift), (QList<quint32>{0xffe3, 0xffe1, 'v'}));
        QVERIFY(KT::isModifierKeysym(0xffe9));
        QVERIFY(!KT::isModifierKeysym(0xffe5)); // Caps Lock would toggle
    }

    void modifierMasks()
    {
        QCOMPARE(KT::modifiersForXState(1 | 4 | 8 | 64), ShortcutKey::AllModifiers);
        QCOMPARE(KT::modifiersForXState(2 | 16), quint8(0)); // Lock and NumLock are ignored
        for (quint8 m = 0; m <= ShortcutKey::AllModifiers; ++m) {
            QCOMPARE(KT::modifiersForXState(KT::xStateForModifiers(m)), m);
            QCOMPARE(KT::modifiersForQt(KT::qtModifiersFor(m)), m);
        }
    }

    // Every key the recorder can take from Qt goes back to the same Qt key (KGlobalAccel's terms).
    void qtKeysRoundTrip()
    {
        for (int key : {int(Qt::Key_A), int(Qt::Key_5), int(Qt::Key_Slash), int(Qt::Key_F24), int(Qt::Key_Space),
                        int(Qt::Key_Escape), int(Qt::Key_PageDown), int(Qt::Key_Henkan), int(Qt::Key_Zenkaku_Hankaku)}) {
            const auto sym = KT::keysymForQtKey(key);
            QVERIFY(sym);
            QCOMPARE(KT::qtKeyForKeysym(*sym), std::optional<int>(key));
        }
        QVERIFY(!KT::keysymForQtKey(Qt::Key_unknown));
    }
};

QTEST_GUILESS_MAIN(TestKeyTranslation)
#include "tst_KeyTranslation.moc"
