#include "correction/TextProcessor.h"

#include "common/TextTrim.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace vel::TextProcessor {

namespace {

QStringList makeList(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* item : items)
        out.append(QString::fromUtf8(item));
    return out;
}

QString nfc(const QString& text) { return text.normalized(QString::NormalizationForm_C); }

// Every non-overlapping occurrence, left to right; the replacement is not rescanned.
QString plainReplace(const QString& text, const QString& from, const QString& to)
{
    const QString pattern = nfc(from);
    if (pattern.isEmpty())
        return text;
    QString out = text;
    out.replace(pattern, nfc(to), Qt::CaseSensitive);
    return out;
}

bool isSeparator(const QString& c)
{
    return c == QStringLiteral("、") || c == QStringLiteral(",") || c == QStringLiteral(" ")
           || c == QStringLiteral("　");
}

bool isBoundary(const QString& c)
{
    return c == QStringLiteral("。") || c == QStringLiteral("？") || c == QStringLiteral("！")
           || c == QStringLiteral("\n") || c == QStringLiteral("、") || c == QStringLiteral(",");
}

bool isTrimmedSpace(char32_t c) { return c == U'\t' || QChar::category(c) == QChar::Separator_Space; }

int find(const QStringList& haystack, const QStringList& needle, int from)
{
    if (needle.isEmpty())
        return -1;
    const int last = static_cast<int>(haystack.size() - needle.size());
    for (int i = from; i <= last; ++i) {
        bool same = true;
        for (int j = 0; j < needle.size(); ++j) {
            if (haystack.at(i + j) != needle.at(j)) {
                same = false;
                break;
            }
        }
        if (same)
            return i;
    }
    return -1;
}

// The tidy-up shared by the filler and self-correction passes.
QString tidyCommasAndSpaces(QString text)
{
    text = plainReplace(text, QStringLiteral("、、"), QStringLiteral("、"));
    text = plainReplace(text, QStringLiteral("  "), QStringLiteral(" "));
    if (text.startsWith(QStringLiteral("、")))
        text.remove(0, 1);
    return trimSpaces(text);
}

const QString& japanese()
{
    static const QString cls = QStringLiteral("[\\p{sc=Hiragana}\\p{sc=Katakana}\\p{sc=Han}]");
    return cls;
}

// White space as the recogniser's regular expressions mean it: tab, line breaks and \p{Z}.
const QString kSpace = QStringLiteral("[\\t\\n\\f\\r\\p{Z}]");
const QString kNonSpace = QStringLiteral("[^\\t\\n\\f\\r\\p{Z}]");

QRegularExpression unicodeRegex(const QString& pattern)
{
    return QRegularExpression(pattern, QRegularExpression::UseUnicodePropertiesOption);
}

} // namespace

const QStringList& fillers()
{
    static const QStringList list = makeList({
        "なんていうかな", "なんていうか", "なんだろうな", "なんだろう", "えっとですね", "あのですね", "えーっと",
        "えーと", "えっとー", "えっと", "ええっと", "ええと", "あのー", "あのう", "あのね", "そのー", "そのう",
        "うーんと", "うーんとー", "うーん", "えー", "あー",
    });
    return list;
}

const QStringList& correctionMarkers()
{
    static const QStringList list =
        makeList({"じゃなくって", "じゃなくて", "ではなくて", "ではなく", "っていうか", "というか"});
    return list;
}

QString trimSpaces(const QString& text)
{
    return trimCodePoints(text, isTrimmedSpace);
}

QString removeFillers(const QString& input)
{
    QString text = nfc(input);
    for (const QString& filler : fillers())
        text = plainReplace(text, filler, QString());
    return tidyCommasAndSpaces(text);
}

namespace {

// findCorrectionStart over the first `length` characters of g, without copying them.
int correctionStart(const QStringList& g, int length)
{
    int e = length;
    while (e > 0 && isSeparator(g.at(e - 1)))
        --e;
    if (e == 0)
        return 0;
    int pos = e;
    for (int examined = 0; examined < 8; ++examined) {
        if (pos == 0)
            return 0;
        if (isBoundary(g.at(pos - 1)))
            return pos;
        --pos;
    }
    return e;
}

} // namespace

int findCorrectionStart(const QStringList& before)
{
    return correctionStart(before, static_cast<int>(before.size()));
}

QString removeCorrectionWithContext(const QString& input, const QString& marker, bool requireCommas)
{
    const QString text = nfc(input);
    if (text.isEmpty())
        return text;
    QStringList g = graphemes(text);
    const QStringList m = graphemes(nfc(marker));
    int searchStart = 0;
    for (;;) {
        const int at = find(g, m, searchStart);
        if (at < 0)
            return g.join(QString());
        const int end = at + static_cast<int>(m.size());
        if (requireCommas) {
            if (end >= g.size())
                return g.join(QString());
            if (at == 0 || !isSeparator(g.at(at - 1)) || !isSeparator(g.at(end))) {
                searchStart = end;
                continue;
            }
        }
        int wrongStart = correctionStart(g, at);
        while (wrongStart > 0 && isSeparator(g.at(wrongStart - 1)))
            --wrongStart;
        int rightStart = end;
        while (rightStart < g.size() && isSeparator(g.at(rightStart)))
            ++rightStart;
        g.erase(g.begin() + wrongStart, g.begin() + rightStart);
        // Searching again from the start would re-reject, unchanged, every occurrence that lies
        // wholly before the join with both neighbours intact; only those reaching the join can
        // differ now, so the search resumes just before it.
        searchStart = std::max(0, wrongStart - static_cast<int>(m.size()) - 1);
    }
}

QString handleSelfCorrections(const QString& input)
{
    QString text = nfc(input);
    for (const QString& marker : correctionMarkers())
        text = removeCorrectionWithContext(text, marker, false);
    text = removeCorrectionWithContext(text, QStringLiteral("いや"), true);
    return tidyCommasAndSpaces(text);
}

QString applyDictionaryReplacement(const QString& input, const QList<DictionaryEntry>& entries)
{
    struct Rule {
        QString reading;
        QString term;
        qsizetype length;
    };
    QList<Rule> rules;
    for (const DictionaryEntry& entry : entries) {
        const QString reading = nfc(entry.reading);
        const QString term = nfc(entry.term);
        if (!reading.isEmpty() && reading != term)
            rules.append({reading, term, graphemes(reading).size()});
    }
    std::stable_sort(rules.begin(), rules.end(), [](const Rule& a, const Rule& b) { return a.length > b.length; });
    QString text = nfc(input);
    for (const Rule& rule : rules)
        text = plainReplace(text, rule.reading, rule.term);
    return text;
}

QString cleanSpeechArtifacts(const QString& input)
{
    static const QRegularExpression conjunctiveStop = unicodeRegex(
        QStringLiteral("([てでと]|けど|から|ので|のに|し|たら|ても|けれど|って|ながら|ば)。%1*(?=%2)").arg(kSpace, kNonSpace));
    static const QRegularExpression betweenJapanese =
        unicodeRegex(QStringLiteral("(%1)%2+(?=%1)").arg(japanese(), kSpace));
    static const QRegularExpression beforeDigit = unicodeRegex(QStringLiteral("(%1)%2+(\\d)").arg(japanese(), kSpace));
    static const QRegularExpression afterDigit = unicodeRegex(QStringLiteral("(\\d)%2+(%1)").arg(japanese(), kSpace));

    QString text = nfc(input);
    text.replace(conjunctiveStop, QStringLiteral("\\1"));
    text.replace(betweenJapanese, QStringLiteral("\\1"));
    text.replace(beforeDigit, QStringLiteral("\\1\\2"));
    text.replace(afterDigit, QStringLiteral("\\1\\2"));
    return text;
}

QString removeDuplicateSentences(const QString& input)
{
    const QString text = nfc(input);
    QStringList pieces;
    for (const QString& part : text.split(QStringLiteral("。"))) {
        for (const QString& line : part.split(QLatin1Char('\n'))) {
            const QString trimmed = trimSpaces(line);
            if (!trimmed.isEmpty())
                pieces.append(trimmed);
        }
    }
    if (pieces.size() < 2)
        return text;
    QStringList kept;
    for (const QString& piece : pieces) {
        if (kept.isEmpty() || kept.last() != piece)
            kept.append(piece);
    }
    if (!text.contains(QStringLiteral("。")))
        return kept.join(QLatin1Char('\n'));
    return kept.join(QStringLiteral("。")) + (text.endsWith(QStringLiteral("。")) ? QStringLiteral("。") : QString());
}

QString localText(const QString& raw, bool removeFillersOn, const QList<DictionaryEntry>& entries)
{
    QString text = raw;
    if (removeFillersOn) {
        text = removeFillers(text);
        text = handleSelfCorrections(text);
    }
    text = applyDictionaryReplacement(text, entries);
    text = cleanSpeechArtifacts(text);
    return removeDuplicateSentences(text);
}

QString postProcessGeminiText(const QString& text, const QList<DictionaryEntry>& entries)
{
    return cleanSpeechArtifacts(applyDictionaryReplacement(text, entries));
}

} // namespace vel::TextProcessor
