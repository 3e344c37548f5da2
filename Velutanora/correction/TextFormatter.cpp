#include "correction/TextFormatter.h"

#include "common/TextTrim.h"

#include <QRegularExpression>

#include <algorithm>

namespace vel::TextFormatter {

namespace {

bool isTrimmed(char32_t c)
{
    return c == U'\t' || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029
           || QChar::category(c) == QChar::Separator_Space;
}

} // namespace

const QStringList& questionEndings()
{
    static const QStringList list = [] {
        QStringList out;
        for (const char* s : {"のかなあ", "のかな", "ですよね", "だよね", "んだっけ", "でしょうか", "だろうか", "かなあ",
                              "かしら", "だっけ", "かな", "よね", "っけ"})
            out.append(QString::fromUtf8(s));
        return out;
    }();
    return list;
}

QString trimWhitespaceAndNewlines(const QString& text)
{
    return trimCodePoints(text, isTrimmed);
}

QString convertQuestionEndings(const QString& text)
{
    static const QRegularExpression pattern = [] {
        // Escaped for literal matching. QRegularExpression::escape() would put a backslash before
        // every kana, which is an error for a letter; only ASCII punctuation needs it.
        QStringList escaped;
        for (const QString& ending : questionEndings()) {
            QString e;
            for (const QChar c : ending) {
                if (c.unicode() < 0x80 && !c.isLetterOrNumber())
                    e += QLatin1Char('\\');
                e += c;
            }
            escaped.append(e);
        }
        QRegularExpression re(QStringLiteral("(") + escaped.join(QLatin1Char('|')) + QStringLiteral(")。"));
        Q_ASSERT(re.isValid());
        return re;
    }();
    QString out = text;
    out.replace(pattern, QStringLiteral("\\1？"));
    return out;
}

QString format(const QString& input)
{
    static const QRegularExpression sentenceEnd(QStringLiteral("([。？])(?!\n)"));
    static const QRegularExpression manyBreaks(QStringLiteral("\n{3,}"));

    QString text = trimWhitespaceAndNewlines(input.normalized(QString::NormalizationForm_C));
    // What the clean-up leaves of a filler-only utterance ("、、、") is nothing to paste.
    const auto words = text.toUcs4();
    if (std::all_of(words.begin(), words.end(), [](char32_t c) { return QChar::isPunct(c) || QChar::isSpace(c); }))
        return {};
    if (!text.isEmpty()) {
        static const QStringList closing{QStringLiteral("。"), QStringLiteral("？"), QStringLiteral("！"),
                                         QStringLiteral("?"), QStringLiteral("!")};
        bool closed = false;
        for (const QString& c : closing)
            closed = closed || text.endsWith(c);
        if (!closed)
            text += QStringLiteral("。");
    }
    text = convertQuestionEndings(text);
    text.replace(sentenceEnd, QStringLiteral("\\1\n"));
    text.replace(manyBreaks, QStringLiteral("\n\n"));
    return trimWhitespaceAndNewlines(text);
}

} // namespace vel::TextFormatter
