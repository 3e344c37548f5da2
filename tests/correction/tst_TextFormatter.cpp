#include "correction/TextFormatter.h"

#include <QRandomGenerator>
#include <QTest>

using namespace vel;

class TestTextFormatter : public QObject {
    Q_OBJECT
private slots:
    void format_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("only white space") << " \n\t　" << "";
        QTest::newRow("only punctuation") << "、、 、。！？「」" << "";
        QTest::newRow("a symbol is content") << "♪" << "♪。";
        QTest::newRow("closing stop") << "今日は晴れです" << "今日は晴れです。";
        QTest::newRow("question by ending") << "明日は雨ですよね" << "明日は雨ですよね？";
        QTest::newRow("two sentences") << "行くのかな。それとも帰る。" << "行くのかな？\nそれとも帰る。";
        QTest::newRow("ASCII bang unchanged") << "本当!" << "本当!";
        QTest::newRow("no break after full-width bang") << "すごい！次へ" << "すごい！次へ。";
        QTest::newRow("next character only") << "「はい。」と言った" << "「はい。\n」と言った。";
        QTest::newRow("four line feeds") << "一。\n\n\n\n二" << "一。\n\n二。";
        QTest::newRow("kana alone") << "かな" << "かな？";
        QTest::newRow("existing line feed kept") << "一。\n二。" << "一。\n二。";
        QTest::newRow("question mark ends") << "本当?" << "本当?";
        QTest::newRow("longest ending first") << "そうなのかなあ。" << "そうなのかなあ？";
        QTest::newRow("surrounding space") << "  はい。  " << "はい。";
        QTest::newRow("っけ") << "会議は何時からでしたっけ" << "会議は何時からでしたっけ？";
    }
    void format()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(TextFormatter::format(input), expected);
    }

    void formatIsIdempotent()
    {
        const QStringList pieces{"。", "？", "！", "?", "!", "\n", "\n\n", " ", "　", "\t", "かな", "よね", "っけ",
                                 "です", "「", "」", "東京", "A", "3", "\r", "の", "。\n"};
        auto* rng = QRandomGenerator::global();
        for (int round = 0; round < 3000; ++round) {
            QString text;
            const int n = rng->bounded(1, 12);
            for (int i = 0; i < n; ++i)
                text += pieces.at(rng->bounded(static_cast<int>(pieces.size())));
            const QString once = TextFormatter::format(text);
            QCOMPARE(TextFormatter::format(once), once);
        }
    }
};

QTEST_GUILESS_MAIN(TestTextFormatter)
#include "tst_TextFormatter.moc"
