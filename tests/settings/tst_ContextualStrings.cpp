#include "settings/AppSettings.h"
#include "support/MemoryStore.h"

#include <QTest>

using namespace vel;
using vel::test::MemoryStore;

class TestContextualStrings : public QObject {
    Q_OBJECT
private slots:
    void occupations_data()
    {
        QTest::addColumn<QString>("occupation");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("Software Engineer") << "Software Engineer" << QStringList{"software"};
        QTest::newRow("法務") << "法務" << QStringList{"legal"};
        QTest::newRow("医療法務") << "医療法務" << QStringList{"medical", "legal"};
        QTest::newRow("医療法人の経理") << "医療法人の経理" << QStringList{"medical", "legal", "accounting"};
        QTest::newRow("FINANCE upper case") << "FINANCE" << QStringList{"accounting"};
        QTest::newRow("teacher") << "teacher" << QStringList{};
    }
    void occupations()
    {
        QFETCH(QString, occupation);
        QFETCH(QStringList, fields);
        MemoryStore store;
        AppSettings s(store);
        s.setUserOccupation(occupation);
        QStringList expected;
        for (const QString& f : fields) {
            if (f == QLatin1String("software")) expected += AppSettings::softwareTerms();
            if (f == QLatin1String("medical")) expected += AppSettings::medicalTerms();
            if (f == QLatin1String("legal")) expected += AppSettings::legalTerms();
            if (f == QLatin1String("accounting")) expected += AppSettings::accountingTerms();
        }
        QCOMPARE(s.contextualStrings(), expected);
    }

    void dictionaryTermsComeFirstWithoutDeduplication()
    {
        MemoryStore store;
        AppSettings s(store);
        s.setDictionaryEntries({DictionaryEntry::make("Acme", "あくめ"), DictionaryEntry::make("Gemini", "じぇみに"),
                                DictionaryEntry::make("", "から")});
        s.setUserOccupation("developer");
        const QStringList list = s.contextualStrings();
        QCOMPARE(list.size(), 3 + 82);
        QCOMPARE(list.mid(0, 3), (QStringList{"Acme", "Gemini", ""}));
        QCOMPARE(list.count("Gemini"), 2);
    }
};

QTEST_GUILESS_MAIN(TestContextualStrings)
#include "tst_ContextualStrings.moc"
