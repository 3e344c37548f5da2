#include "correction/CorrectionPrompts.h"

#include <QStringList>

namespace vel::CorrectionPrompts {

namespace {

QString poorDictionClause(bool assumePoorDiction)
{
    if (!assumePoorDiction)
        return {};
    return QStringLiteral("話者は滑舌が悪く、発音が不明瞭なことがあります。音声認識の出力には発音の不明瞭さに起因する誤認識が多く含まれる可能性があります。前後の文脈から最も自然な語句を推測して修正してください。");
}

QString firstLine(const QString& preamble, const QString& occupation, bool assumePoorDiction)
{
    return preamble + buildOccupationContext(occupation) + poorDictionClause(assumePoorDiction);
}

} // namespace

QString buildOccupationContext(const QString& occupation)
{
    if (occupation.isEmpty())
        return {};
    return QStringLiteral("話者は") + occupation + QStringLiteral("です。") + occupation
           + QStringLiteral("の専門用語・業界用語が含まれる可能性が高いため、音声認識で一般語に誤変換された語は専門用語として正しく復元してください。");
}

QString buildTextPrompt(const QString& text, const QString& occupation, bool assumePoorDiction, CorrectionMode mode)
{
    QStringList lines;
    switch (mode) {
    case CorrectionMode::Instant:
        return {};
    case CorrectionMode::Fast:
        lines = {
            firstLine(QStringLiteral("以下は音声認識の出力テキストです。"), occupation, assumePoorDiction),
            QStringLiteral("認識ミス（漢字の誤変換、カタカナの崩れ、外来語の誤認識等）を文脈から判断して修正してください。"),
            QStringLiteral("話し方や口調はそのまま保持し、文末に句点を付けてください。"),
            QStringLiteral("疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終えてください。"),
            QStringLiteral("フィラー（えーっと、あのー等）は除去してください。"),
            QString(),
            text,
        };
        break;
    case CorrectionMode::Quality:
        lines = {
            firstLine(QStringLiteral("以下は音声認識の出力テキストです。話し言葉をそのまま認識したものです。"), occupation,
                      assumePoorDiction),
            QStringLiteral("話者が伝えたかった内容を読み取り、自然で読みやすい文章に校正してください。"),
            QString(),
            QStringLiteral("- 認識ミスは文脈から判断して正しい語に修正する"),
            QStringLiteral("- 言い間違いや言い直しは、話者が最終的に言いたかった方を採用する"),
            QStringLiteral("- フィラーや冗長な繰り返しを整理する"),
            QStringLiteral("- 文法の乱れや助詞の脱落を補正する"),
            QStringLiteral("- 疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終える"),
            QStringLiteral("- です/ます調に統一する必要はない。自然な文体でよい"),
            QStringLiteral("- 原文にない情報や語句を絶対に追加しない。原文の語句を使って文を構成する"),
            QStringLiteral("- 話者の主張や情報を変えない"),
            QString(),
            QStringLiteral("校正後のテキストのみを出力してください。"),
            QString(),
            text,
        };
        break;
    }
    return lines.join(QLatin1Char('\n'));
}

QString buildAudioPrompt(const QString& occupation, bool assumePoorDiction, CorrectionMode mode)
{
    QStringList lines;
    switch (mode) {
    case CorrectionMode::Instant:
        return {};
    case CorrectionMode::Fast:
        lines = {
            firstLine(QStringLiteral("以下は音声の録音です。"), occupation, assumePoorDiction),
            QStringLiteral("音声を聞き取り、話者が話した内容を正確に文字起こししてください。"),
            QStringLiteral("認識ミスがあれば文脈から判断して修正し、文末に句点を付けてください。"),
            QStringLiteral("疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終えてください。"),
            QStringLiteral("フィラー（えーっと、あのー等）は除去してください。"),
            QStringLiteral("校正後のテキストのみを出力してください。"),
        };
        break;
    case CorrectionMode::Quality:
        lines = {
            firstLine(QStringLiteral("以下は音声の録音です。"), occupation, assumePoorDiction),
            QStringLiteral("音声を聞き取り、話者が伝えたかった内容を自然で読みやすい文章にしてください。"),
            QString(),
            QStringLiteral("- 言い間違いや言い直しは、話者が最終的に言いたかった方を採用する"),
            QStringLiteral("- フィラーや冗長な繰り返しを整理する"),
            QStringLiteral("- 文法の乱れや助詞の脱落を補正する"),
            QStringLiteral("- 疑問文や「〜かな」「〜よね」「〜っけ」等の疑問語尾は「？」で終える"),
            QStringLiteral("- 原文にない情報や語句を絶対に追加しない"),
            QStringLiteral("- 話者の主張や情報を変えない"),
            QString(),
            QStringLiteral("校正後のテキストのみを出力してください。"),
        };
        break;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace vel::CorrectionPrompts
