#include "correction/CorrectionPrompts.h"

#include <QTest>

using namespace vel;
namespace CP = vel::CorrectionPrompts;

namespace {

// The four prompts for one speaker; the wording itself is the code's table.
QStringList prompts(const QString& occupation, bool poor)
{
    return {CP::buildTextPrompt("T", occupation, poor, CorrectionMode::Fast),
            CP::buildTextPrompt("T", occupation, poor, CorrectionMode::Quality),
            CP::buildAudioPrompt(occupation, poor, CorrectionMode::Fast),
            CP::buildAudioPrompt(occupation, poor, CorrectionMode::Quality)};
}

QString firstLine(const QString& prompt) { return prompt.section('\n', 0, 0); }

} // namespace

class TestCorrectionPrompts : public QObject {
    Q_OBJECT
private slots:
    // The speaker's clauses go on the first line, after the preamble, occupation first; the rest
    // of each prompt stays as it is.
    void speakerClausesOnTheFirstLine()
    {
        const QStringList plain = prompts("", false);
        const QStringList occupation = prompts("医師", false);
        const QStringList poor = prompts("", true);
        const QStringList both = prompts("医師", true);
        QCOMPARE(QSet<QString>(plain.begin(), plain.end()).size(), 4);
        for (int i = 0; i < 4; ++i) {
            const QString preamble = firstLine(plain[i]);
            const QString occupationClause = firstLine(occupation[i]).mid(preamble.size());
            const QString poorClause = firstLine(poor[i]).mid(preamble.size());
            QVERIFY(firstLine(occupation[i]).startsWith(preamble));
            QVERIFY(firstLine(poor[i]).startsWith(preamble));
            QCOMPARE(occupationClause, CP::buildOccupationContext("医師"));
            QVERIFY(occupationClause.contains("医師"));
            QVERIFY(!poorClause.isEmpty());
            QCOMPARE(firstLine(both[i]), preamble + occupationClause + poorClause);
            for (const QStringList* variant : {&occupation, &poor, &both})
                QCOMPARE((*variant)[i].section('\n', 1), plain[i].section('\n', 1));
        }
        // Only spaces still count as an occupation (as typed).
        QVERIFY(firstLine(prompts("  ", false)[0]).contains(CP::buildOccupationContext("  ")));
        QVERIFY(!CP::buildOccupationContext("  ").isEmpty());
        QVERIFY(CP::buildOccupationContext("").isEmpty());
    }

    void textGoesLastAudioEndsWithTheInstruction()
    {
        for (CorrectionMode mode : {CorrectionMode::Fast, CorrectionMode::Quality}) {
            QVERIFY(CP::buildTextPrompt("認識\nテキスト", "", false, mode).endsWith("\n\n認識\nテキスト"));
            QVERIFY(CP::buildAudioPrompt("", false, mode).endsWith("校正後のテキストのみを出力してください。"));
            QVERIFY(CP::buildAudioPrompt("", false, mode).contains(QChar(0x301C))); // 〜, not a tilde
        }
    }
};

QTEST_GUILESS_MAIN(TestCorrectionPrompts)
#include "tst_CorrectionPrompts.moc"
