#include "settings/AppSettings.h"
#include "support/MemoryStore.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

using namespace vel;
using vel::test::MemoryStore;

class TestAppSettings : public QObject {
    Q_OBJECT
private slots:
    // What each stored form loads as; the old Boolean continuous mode is read, never rewritten.
    void loading_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<QString>("loaded");
        const QJsonValue absent(QJsonValue::Undefined);
        const QString continuous = "continuous_mode", correction = "correction_mode", appearance = "appearance_mode",
                      silence = "continuous_silence_seconds";
        QTest::newRow("continuous: Boolean true of older stores") << continuous << QJsonValue(true) << "auto";
        QTest::newRow("continuous: Boolean false") << continuous << QJsonValue(false) << "off";
        QTest::newRow("continuous: unknown string") << continuous << QJsonValue("pasteOnly") << "off";
        QTest::newRow("continuous: number") << continuous << QJsonValue(1) << "off";
        QTest::newRow("correction: paste_only") << correction << QJsonValue("paste_only") << "fast";
        QTest::newRow("correction: wrong type") << correction << QJsonValue(true) << "fast";
        QTest::newRow("appearance: Dark") << appearance << QJsonValue("Dark") << "light";
        QTest::newRow("appearance: dark") << appearance << QJsonValue("dark") << "dark";
        QTest::newRow("appearance: number") << appearance << QJsonValue(2) << "light";
        QTest::newRow("silence: 2.5") << silence << QJsonValue(2.5) << "2.5";
        QTest::newRow("silence: zero") << silence << QJsonValue(0) << "3";
        QTest::newRow("silence: negative") << silence << QJsonValue(-1.5) << "3";
        QTest::newRow("silence: string") << silence << QJsonValue("2.0") << "3";
    }
    void loading()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, stored);
        QFETCH(QString, loaded);
        MemoryStore store;
        if (!stored.isUndefined())
            store.seed(key, stored);
        AppSettings s(store);
        const QString raw = key == "continuous_mode"   ? rawValue(s.continuousMode())
                            : key == "correction_mode" ? rawValue(s.correctionMode())
                            : key == "appearance_mode" ? rawValue(s.appearanceMode())
                                                       : QString::number(s.continuousSilenceSeconds());
        QCOMPARE(raw, loaded);
        QVERIFY2(store.writes().isEmpty(), "loading never writes");
    }

    void wrongTypesLoadTheirDefaultAlone()
    {
        MemoryStore store;
        store.seed("gemini_api_key", 42);
        store.seed("remove_fillers", "false");
        store.seed("assume_poor_diction", 1);
        store.seed("stealth_mode", "yes");
        store.seed("user_occupation", QJsonValue(false));
        store.seedData("start_shortcut", "{\"keysym\":\"49\",\"modifiers\":0}");
        store.seed("stop_shortcut", QStringLiteral("{\"keysym\":113,\"modifiers\":0}")); // not a blob
        store.seed("dictionary_entries", QJsonObject{{"$data", "!!!not base64"}});
        store.seed("correction_mode", "quality"); // a good neighbour still loads
        AppSettings s(store);
        QCOMPARE(s.geminiApiKey(), QString());
        QCOMPARE(s.removeFillers(), true);
        QCOMPARE(s.assumePoorDiction(), false);
        QCOMPARE(s.stealthMode(), false);
        QCOMPARE(s.userOccupation(), QString());
        QCOMPARE(s.startShortcut(), ShortcutKey::defaultStart());
        QCOMPARE(s.cancelShortcut(), ShortcutKey::defaultCancel());
        QVERIFY(s.dictionaryEntries().isEmpty());
        QCOMPARE(s.correctionMode(), CorrectionMode::Quality);
    }

    // An earlier version's shortcut record is stored again once, in today's form.
    void oldShortcutRecordsAreMigratedOnce()
    {
        MemoryStore store;
        store.seedData("start_shortcut", R"({"keyCode":62,"modifiers":262144})");
        store.seedData("stop_shortcut", ShortcutKey{'q', ShortcutKey::Ctrl}.toJson());
        AppSettings s(store);
        QCOMPARE(s.startShortcut(), (ShortcutKey{0xffe4, 0}));
        QCOMPARE(s.cancelShortcut(), (ShortcutKey{'q', ShortcutKey::Ctrl}));
        QCOMPARE(store.writes(), QStringList{"start_shortcut"});
        QCOMPARE(*store.data("start_shortcut"), (ShortcutKey{0xffe4, 0}.toJson()));
        AppSettings again(store);
        QCOMPARE(store.writes().size(), 1);
    }

    void dictionaryBlobs_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<int>("expectedCount");
        const QByteArray good = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","term":"東京","reading":"とうきょう"},)"
                                R"({"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e50","term":"Acme","reading":"あくめ"}])";
        QTest::newRow("two entries") << good << 2;
        QTest::newRow("one lacks reading")
            << QByteArray(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","term":"東京","reading":"とうきょう"},)"
                          R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E50","term":"Acme"}])")
            << 0;
        QTest::newRow("bad uuid")
            << QByteArray(R"([{"id":"not-a-uuid","term":"東京","reading":"とうきょう"}])") << 0;
        QTest::newRow("not JSON") << QByteArray("[{") << 0;
        QTest::newRow("an object") << QByteArray(R"({"id":"x"})") << 0;
    }
    void dictionaryBlobs()
    {
        QFETCH(QByteArray, blob);
        QFETCH(int, expectedCount);
        MemoryStore store;
        store.seedData("dictionary_entries", blob);
        AppSettings s(store);
        QCOMPARE(s.dictionaryEntries().size(), expectedCount);
    }

    void writeThroughAndNotification()
    {
        MemoryStore store;
        AppSettings s(store);
        QSignalSpy spy(&s, &AppSettings::correctionModeChanged);

        s.setCorrectionMode(CorrectionMode::Fast); // equal: stored, not notified
        QCOMPARE(spy.count(), 0);
        QCOMPARE(store.writes(), QStringList{"correction_mode"});
        QCOMPARE(store.value("correction_mode").toString(), QStringLiteral("fast"));

        s.setCorrectionMode(CorrectionMode::Quality);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(store.value("correction_mode").toString(), QStringLiteral("quality"));

        QSignalSpy cont(&s, &AppSettings::continuousModeChanged);
        s.setContinuousMode(ContinuousMode::PasteOnly);
        QCOMPARE(cont.count(), 1);
        QCOMPARE(store.value("continuous_mode").toString(), QStringLiteral("paste_only"));

        s.setContinuousSilenceSeconds(2.5);
        QVERIFY(store.value("continuous_silence_seconds").isDouble());
        s.setRemoveFillers(false);
        QCOMPARE(store.value("remove_fillers"), QJsonValue(false));

        QSignalSpy start(&s, &AppSettings::startShortcutChanged);
        s.setStartShortcut(ShortcutKey{0xffec, 0});
        s.setStartShortcut(ShortcutKey{0xffec, 0});
        QCOMPARE(start.count(), 1);
        const auto blob = store.data("start_shortcut");
        QVERIFY(blob);
        QCOMPARE(QJsonDocument::fromJson(*blob).object(), (QJsonObject{{"keysym", 0xffec}, {"modifiers", 0}}));

        // What was written is what the next start reads.
        s.setGeminiApiKey("AIza-secret");
        s.setDictionaryEntries({DictionaryEntry::make("東京", "とうきょう")});
        s.setCancelShortcut(ShortcutKey{'q', ShortcutKey::Super | ShortcutKey::Shift});
        s.setAppearanceMode(AppearanceMode::Dark);
        s.setStealthMode(true);
        AppSettings again(store);
        QCOMPARE(again.geminiApiKey(), QStringLiteral("AIza-secret"));
        QCOMPARE(again.dictionaryEntries(), s.dictionaryEntries());
        QCOMPARE(again.cancelShortcut().label(), QStringLiteral("Shift+Super+Q"));
        QCOMPARE(again.appearanceMode(), AppearanceMode::Dark);
        QVERIFY(again.stealthMode());
        QCOMPARE(again.correctionMode(), CorrectionMode::Quality);
        QCOMPARE(again.continuousMode(), ContinuousMode::PasteOnly);
        QCOMPARE(again.continuousSilenceSeconds(), 2.5);
        QVERIFY(!again.removeFillers());
        QCOMPARE(again.startShortcut(), (ShortcutKey{0xffec, 0}));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_AppSettings.moc"
