#include "correction/CorrectionPrompts.h"

#include <QTest>

using namespace vel;
namespace CP = vel::CorrectionPrompts;

namespace {

const QString kOccupation = QStringLiteral("話者は医師です。医師の専門用語・業界用語が含まれる可能性が高いため、音声認識で一般語に誤変換された語は専門用語として正しく復元してください。");
const QString kPoor = QStringLiteral("話者は滑舌が悪く、発音が不明瞭なことがあります。音声認識の出力には発音の不明瞭さに起因する誤認識が多く含まれる可能性があります。前後の文脈から最も自然な語句を推測して修正してください。");

} // namespace

class TestCorrectionPrompts : public QObject {
    Q_OBJECT
private slots:
    void fullTexts()
    {
        QCOMPARE(CP::buildTextPrompt("認識\nテキスト", "", false, CorrectionMode::Fast),
                 QStringLiteral("以下は音声認識の出力テキストです。\n"
                                "認識ミス（漢字の誤変換、カタカナの崩れ、外来語の誤認識等）を文脈から判断して修正してください。\n"
                                "話し方や口調はそのまま保持し、文末に句点を付けてください。\n"
                                "疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終えてください。\n"
                                "フィラー（えーっと、あのー等）は除去してください。\n"
                                "\n"
                                "認識\nテキスト"));
        QCOMPARE(CP::buildTextPrompt("X", "", false, CorrectionMode::Quality),
                 QStringLiteral("以下は音声認識の出力テキストです。話し言葉をそのまま認識したものです。\n"
                                "話者が伝えたかった内容を読み取り、自然で読みやすい文章に校正してください。\n"
                                "\n"
                                "- 認識ミスは文脈から判断して正しい語に修正する\n"
                                "- 言い間違いや言い直しは、話者が最終的に言いたかった方を採用する\n"
                                "- フィラーや冗長な繰り返しを整理する\n"
                                "- 文法の乱れや助詞の脱落を補正する\n"
                                "- 疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終える\n"
                                "- です/ます調に統一する必要はない。自然な文体でよい\n"
                                "- 原文にない情報や語句を絶対に追加しない。原文の語句を使って文を構成する\n"
                                "- 話者の主張や情報を変えない\n"
                                "\n"
                                "校正後のテキストのみを出力してください。\n"
                                "\n"
                                "X"));
        QCOMPARE(CP::buildAudioPrompt("", false, CorrectionMode::Fast),
                 QStringLiteral("以下は音声の録音です。\n"
                                "音声を聞き取り、話者が話した内容を正確に文字起こししてください。\n"
                                "認識ミスがあれば文脈から判断して修正し、文末に句点を付けてください。\n"
                                "疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終えてください。\n"
                                "フィラー（えーっと、あのー等）は除去してください。\n"
                                "校正後のテキストのみを出力してください。"));
        QCOMPARE(CP::buildAudioPrompt("", false, CorrectionMode::Quality),
                 QStringLiteral("以下は音声の録音です。\n"
                                "音声を聞き取り、話者が伝えたかった内容を自然で読みやすい文章にしてください。\n"
                                "\n"
                                "- 言い間違いや言い直しは、話者が最終的に言いたかった方を採用する\n"
                                "- フィラーや冗長な繰り返しを整理する\n"
                                "- 文法の乱れや助詞の脱落を補正する\n"
                                "- 疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終える\n"
                                "- 原文にない情報や語句を絶対に追加しない\n"
                                "- 話者の主張や情報を変えない\n"
                                "\n"
                                "校正後のテキストのみを出力してください。"));
        QVERIFY(CP::buildAudioPrompt("", false, CorrectionMode::Quality).contains(QChar(0x301C)));
    }

    void firstLineCombinations_data()
    {
        QTest::addColumn<QString>("occupation");
        QTest::addColumn<bool>("poor");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("neither") << "" << false << "";
        QTest::newRow("occupation") << "医師" << false << kOccupation;
        QTest::newRow("poor diction") << "" << true << kPoor;
        QTest::newRow("both, occupation first") << "医師" << true << kOccupation + kPoor;
        QTest::newRow("spaces count as an occupation")
            << "  " << false
            << QStringLiteral("話者は  です。  の専門用語・業界用語が含まれる可能性が高いため、音声認識で一般語に誤変換された語は専門用語として正しく復元してください。");
    }
    void firstLineCombinations()
    {
        QFETCH(QString, occupation);
        QFETCH(bool, poor);
        QFETCH(QString, suffix);
        const struct {
            QString prompt;
            QString preamble;
            int lines;
        } cases[] = {
            {CP::buildTextPrompt("T", occupation, poor, CorrectionMode::Fast), "以下は音声認識の出力テキストです。", 7},
            {CP::buildTextPrompt("T", occupation, poor, CorrectionMode::Quality),
             "以下は音声認識の出力テキストです。話し言葉をそのまま認識したものです。", 15},
            {CP::buildAudioPrompt(occupation, poor, CorrectionMode::Fast), "以下は音声の録音です。", 6},
            {CP::buildAudioPrompt(occupation, poor, CorrectionMode::Quality), "以下は音声の録音です。", 11},
        };
        for (const auto& c : cases) {
            const QStringList lines = c.prompt.split('\n');
            QCOMPARE(lines.first(), c.preamble + suffix);
            QCOMPARE(lines.size(), c.lines);
        }
    }

    void instantIsEmpty()
    {
        QCOMPARE(CP::buildTextPrompt("T", "医師", true, CorrectionMode::Instant), QString());
        QCOMPARE(CP::buildAudioPrompt("医師", true, CorrectionMode::Instant), QString());
    }
};

QTEST_GUILESS_MAIN(TestCorrectionPrompts)
#include "tst_CorrectionPrompts.moc"
