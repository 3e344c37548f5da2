#include "correction/TextProcessor.h"

#include <QRandomGenerator>
#include <QTest>

using namespace vel;
namespace TP = vel::TextProcessor;

namespace {

// The rule as written: after each removal the search starts again at the beginning.
QString referenceCorrection(const QString& text, const QString& marker, bool requireCommas)
{
    auto inS = [](const QString& c) { return c == "、" || c == "," || c == " " || c == "　"; };
    QStringList g = TP::graphemes(text);
    const QStringList m = TP::graphemes(marker);
    int searchStart = 0;
    for (;;) {
        int at = -1;
        for (int i = searchStart; i + m.size() <= g.size(); ++i) {
            if (g.mid(i, m.size()) == m) {
                at = i;
                break;
            }
        }
        if (at < 0)
            return g.join("");
        const int end = at + int(m.size());
        if (requireCommas) {
            if (end >= g.size())
                return g.join("");
            if (at == 0 || !inS(g[at - 1]) || !inS(g[end])) {
                searchStart = end;
                continue;
            }
        }
        int wrong = TP::findCorrectionStart(g.mid(0, at));
        while (wrong > 0 && inS(g[wrong - 1]))
            --wrong;
        int right = end;
        while (right < g.size() && inS(g[right]))
            ++right;
        g = g.mid(0, wrong) + g.mid(right);
        searchStart = 0;
    }
}

} // namespace

class TestTextProcessor : public QObject {
    Q_OBJECT
private slots:
    void fillers_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("leading filler and comma") << "えーっと、今日は晴れです" << "今日は晴れです";
        QTest::newRow("inside a word") << "あのねこ" << "こ";
        QTest::newRow("ええっと: entry 10 first") << "ええっと" << "え";
        QTest::newRow("うーんとー: entry 18 first") << "うーんとー" << "ー";
        QTest::newRow("えっとー: entry 9 first") << "えっとー" << "";
        QTest::newRow("three commas become two") << "今日、あー、、明日" << "今日、、明日";
        QTest::newRow("double space") << "あのね  今日" << "今日";
        QTest::newRow("ideographic space trimmed") << "　えー今日は　" << "今日は";
        QTest::newRow("line breaks are not trimmed") << "えー今日は\n" << "今日は\n";
    }
    void fillers()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(TP::removeFillers(input), expected);
    }

    void selfCorrections_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("short phrase retracted whole") << "東京じゃなくて大阪" << "大阪";
        QTest::newRow("comma bounds the phrase") << "今日は、東京じゃなくて大阪に行きます。" << "今日は大阪に行きます。";
        QTest::newRow("8 characters without boundary")
            << "私は明日東京の会社に行きますじゃなくて大阪" << "私は明日東京の会社に行きます大阪";
        QTest::newRow("marker at the end") << "東京じゃなくて" << "";
        QTest::newRow("iya with commas") << "明日、いや、明後日に行く" << "明後日に行く";
        QTest::newRow("iya inside a word") << "いやだ" << "いやだ";
        QTest::newRow("iya without separators") << "明日いや明後日" << "明日いや明後日";
        QTest::newRow("iya at the end") << "明日、いや" << "明日、いや";
        QTest::newRow("iya after a bad one") << "いやだ、明日、いや、明後日" << "いやだ明後日";
        QTest::newRow("longest marker first") << "赤じゃなくって青" << "青";
        QTest::newRow("ではなく") << "犬ではなく猫" << "猫";
        QTest::newRow("sentence boundary") << "はい。東京というか大阪です" << "はい。大阪です";
        QTest::newRow("two corrections") << "赤じゃなくて青、いや、緑" << "緑";
        QTest::newRow("separators after the marker go") << "赤じゃなくて、　青" << "青";
        QTest::newRow("line feed is a boundary") << "一行目\n赤じゃなくて青" << "一行目\n青";
    }
    void selfCorrections()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(TP::handleSelfCorrections(input), expected);
    }

    void resumedSearchMatchesTheRestartingRule()
    {
        const QStringList pieces{"いや", "じゃなくて", "、", " ", "　", ",", "。", "\n", "明日", "い", "や", "東", "ではなく"};
        QRandomGenerator rng(7);
        for (int round = 0; round < 4000; ++round) {
            QString text;
            const int n = rng.bounded(1, 16);
            for (int i = 0; i < n; ++i)
                text += pieces.at(rng.bounded(int(pieces.size())));
            for (const auto& [marker, commas] : {std::pair{QStringLiteral("いや"), true},
                                                 std::pair{QStringLiteral("じゃなくて"), false},
                                                 std::pair{QStringLiteral("いや"), false}}) {
                QCOMPARE(TP::removeCorrectionWithContext(text, marker, commas), referenceCorrection(text, marker, commas));
            }
        }
    }

    void findCorrectionStart_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("only separators") << "、 " << 0;
        QTest::newRow("short") << "東京" << 0;
        QTest::newRow("boundary") << "今日は、東京" << 4;
        QTest::newRow("exactly 8 without boundary") << "一二三四五六七八" << 8;
        QTest::newRow("7 without boundary") << "一二三四五六七" << 0;
        QTest::newRow("trailing separators skipped") << "一二三四五六七八、、" << 8;
        QTest::newRow("boundary as 8th") << "、二三四五六七八" << 1;
        QTest::newRow("boundary beyond 8") << "、二三四五六七八九" << 9;
    }
    void findCorrectionStart()
    {
        QFETCH(QString, before);
        QFETCH(int, expected);
        QCOMPARE(TP::findCorrectionStart(TP::graphemes(before)), expected);
    }

    void dictionary_data()
    {
        QTest::addColumn<QList<DictionaryEntry>>("entries");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto tokyo = DictionaryEntry::make("東京", "とうきょう");
        const auto tokyoTo = DictionaryEntry::make("東京都", "とうきょうと");
        QTest::newRow("longest reading first") << QList{tokyo, tokyoTo} << "とうきょうとに" << "東京都に";
        QTest::newRow("order does not matter") << QList{tokyoTo, tokyo} << "とうきょうとに" << "東京都に";
        QTest::newRow("empty reading ignored") << QList{DictionaryEntry::make("X", "")} << "あいう" << "あいう";
        QTest::newRow("reading equals term ignored") << QList{DictionaryEntry::make("あ", "あ")} << "あいう" << "あいう";
        QTest::newRow("later sees earlier result")
            << QList{DictionaryEntry::make("クロード", "くろーど"), DictionaryEntry::make("Claude", "クロード")}
            << "くろーどさん" << "Claudeさん";
        QTest::newRow("equal lengths keep list order")
            << QList{DictionaryEntry::make("B", "ab"), DictionaryEntry::make("C", "bc")} << "abc" << "Bc";
        QTest::newRow("canonically equivalent text matches")
            << QList{DictionaryEntry::make("G", "が")} << QString::fromUtf8("か\xe3\x82\x99い") << "Gい";
        QTest::newRow("case sensitive") << QList{DictionaryEntry::make("GitHub", "github")} << "Github" << "Github";
    }
    void dictionary()
    {
        QFETCH(QList<DictionaryEntry>, entries);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(TP::applyDictionaryReplacement(input, entries), expected);
    }

    void artifacts_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("conjunctive full stop") << "雨が降ったので。 傘を持つ。" << "雨が降ったので傘を持つ。";
        QTest::newRow("final full stop stays") << "そうだから。" << "そうだから。";
        QTest::newRow("full stop before space at end") << "行ったけど。 " << "行ったけど。 ";
        QTest::newRow("space between Japanese") << "東京 大阪" << "東京大阪";
        QTest::newRow("ideographic space and newline") << "東京　\n大阪" << "東京大阪";
        QTest::newRow("digit after Japanese") << "第 3 章" << "第3章";
        QTest::newRow("Latin keeps its space") << "Hello world" << "Hello world";
        QTest::newRow("prolonged mark is not Japanese script") << "ー 東京" << "ー 東京";
        QTest::newRow("ideographic comma is not Japanese script") << "東京、 大阪" << "東京、 大阪";
        QTest::newRow("mixed Latin and Japanese") << "Swift の コード" << "Swift のコード";
    }
    void artifacts()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(TP::cleanSpeechArtifacts(input), expected);
    }

    void duplicates_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("repeated sentence") << "了解です。了解です。次へ" << "了解です。次へ";
        QTest::newRow("lines without full stop") << "はい\nはい" << "はい";
        QTest::newRow("non-adjacent stays") << "A。B。A。" << "A。B。A。";
        QTest::newRow("single piece untouched") << "  はい  " << "  はい  ";
        QTest::newRow("line breaks become full stops") << "一。\n二\n二" << "一。二";
        QTest::newRow("trimmed before comparison") << "はい。 はい。" << "はい。";
    }
    void duplicates()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(TP::removeDuplicateSentences(input), expected);
    }

    // Nothing pasted, printed or stored may carry a terminal's controls (Gemini's answer, a file).
    void controlsAreRemoved_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("NUL and DEL") << QString::fromUtf8("今日\0は\x7f晴れ", 17) << "今日は晴れ";
        QTest::newRow("a colour sequence") << "\x1b[31m赤\x1b[0m" << "赤";
        QTest::newRow("a window title") << "\x1b]0;pwned\x07本文" << "本文";
        QTest::newRow("C1 clear screen") << QString(QChar(0x9b)) + "2J本文" << "本文";
        QTest::newRow("carriage return") << "一\r\n二" << "一\n二";
        QTest::newRow("tab and line feed stay") << "一\t二\n三" << "一\t二\n三";
        QTest::newRow("bidi override and isolate") << QString::fromUtf16(u"rm \u202Eexe.txt\u202C \u2066x\u2069") << "rm exe.txt x";
        QTest::newRow("zero width, separators, BOM") << QString::fromUtf16(u"\ufeff一\u200b二\u2028三\u2029\u200d") << "一二三";
    }
    void controlsAreRemoved()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(TP::removeControls(input), expected);
        QVERIFY(!TP::localText(input, false, {}).contains(QChar(0x1b)));
        QVERIFY(!TP::postProcessGeminiText(input, {}).contains(QChar(0)));
    }

    void localTextRunsTheStepsInOrder()
    {
        const QList<DictionaryEntry> dict{DictionaryEntry::make("Velutanora", "べるたのーら")};
        QCOMPARE(TP::localText("えーっと、べるたのーら じゃなくて べるたのーらです。", true, dict),
                 QStringLiteral("Velutanoraです。"));
        QCOMPARE(TP::localText("えーっと、今日は", false, {}), QStringLiteral("えーっと、今日は"));
    }
};

QTEST_GUILESS_MAIN(TestTextProcessor)
#include "tst_TextProcessor.moc"
