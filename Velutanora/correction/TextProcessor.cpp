#include "correction/TextProcessor.h"

#include "common/TextTrim.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <vector>

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

bool isTrimmedSpace(char32_t c) { return c == U'\t' || QChar::category(c) == QChar::Separator_Space; }

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

// A text as its graphemes: views into one normalised string, which the passes below only ever
// shorten (a retracted phrase goes), so no grapheme is copied.
using Graphemes = std::vector<QStringView>;

Graphemes graphemeViews(const QString& text)
{
    Graphemes out;
    out.reserve(static_cast<size_t>(text.size()));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        if (end > start)
            out.push_back(QStringView(text).mid(start, end - start));
        start = end;
    }
    return out;
}

QString joined(const Graphemes& g)
{
    qsizetype length = 0;
    for (QStringView v : g)
        length += v.size();
    QString out;
    out.reserve(length);
    for (QStringView v : g)
        out.append(v);
    return out;
}

bool isSeparatorView(QStringView c)
{
    return c.size() == 1 && (c.front() == u'、' || c.front() == u',' || c.front() == u' ' || c.front() == u'　');
}

bool isBoundaryView(QStringView c)
{
    return c.size() == 1
           && (c.front() == u'。' || c.front() == u'？' || c.front() == u'！' || c.front() == u'\n' || c.front() == u'、'
               || c.front() == u',');
}

// Where the retracted phrase before position `length` begins: back over separators, then up to
// eight graphemes to the nearest boundary.
template <class Sequence>
int correctionStart(const Sequence& g, int length)
{
    int e = length;
    while (e > 0 && isSeparatorView(g[static_cast<size_t>(e - 1)]))
        --e;
    if (e == 0)
        return 0;
    int pos = e;
    for (int examined = 0; examined < 8; ++examined) {
        if (pos == 0)
            return 0;
        if (isBoundaryView(g[static_cast<size_t>(pos - 1)]))
            return pos;
        --pos;
    }
    return e;
}

// One marker's pass, in linear time. The text is `kept` (what the pass has decided on) followed
// by src[r…]. A retraction drops the end of `kept` and skips ahead in src; the search then
// resumes just before the join (an occurrence wholly before it is rejected unchanged again), so
// those few graphemes are handed back to src, into places it has already consumed.
Graphemes removeCorrections(Graphemes src, const Graphemes& marker, bool requireCommas)
{
    const size_t n = src.size();
    const size_t m = marker.size();
    Graphemes kept;
    kept.reserve(n);
    size_t r = 0;
    const auto matchesAt = [&](size_t i) {
        if (i + m > n)
            return false;
        for (size_t j = 0; j < m; ++j)
            if (src[i + j] != marker[j])
                return false;
        return true;
    };
    while (r < n) {
        if (m == 0 || !matchesAt(r)) {
            kept.push_back(src[r++]);
            continue;
        }
        const size_t end = r + m;
        if (requireCommas) {
            if (end >= n)
                break; // a marker at the very end is kept, and the search ends
            if (kept.empty() || !isSeparatorView(kept.back()) || !isSeparatorView(src[end])) {
                kept.insert(kept.end(), src.begin() + static_cast<qsizetype>(r), src.begin() + static_cast<qsizetype>(end));
                r = end;
                continue;
            }
        }
        int wrongStart = correctionStart(kept, static_cast<int>(kept.size()));
        while (wrongStart > 0 && isSeparatorView(kept[static_cast<size_t>(wrongStart - 1)]))
            --wrongStart;
        size_t rightStart = end;
        while (rightStart < n && isSeparatorView(src[rightStart]))
            ++rightStart;
        kept.resize(static_cast<size_t>(wrongStart));
        r = rightStart;
        const size_t back = std::min(kept.size(), m + 1);
        std::copy(kept.end() - static_cast<qsizetype>(back), kept.end(), src.begin() + static_cast<qsizetype>(r - back));
        kept.resize(kept.size() - back);
        r -= back;
    }
    kept.insert(kept.end(), src.begin() + static_cast<qsizetype>(r), src.end());
    return kept;
}

} // namespace

int findCorrectionStart(const QStringList& before)
{
    Graphemes views;
    for (const QString& g : before)
        views.push_back(g);
    return correctionStart(views, static_cast<int>(views.size()));
}

QString removeCorrectionWithContext(const QString& input, const QString& marker, bool requireCommas)
{
    const QString text = nfc(input);
    const QString normalisedMarker = nfc(marker);
    return joined(removeCorrections(graphemeViews(text), graphemeViews(normalisedMarker), requireCommas));
}

QString handleSelfCorrections(const QString& input)
{
    const QString text = nfc(input);
    Graphemes g = graphemeViews(text);
    std::vector<QString> markers;
    for (const QString& marker : correctionMarkers())
        markers.push_back(nfc(marker));
    for (const QString& marker : markers)
        g = removeCorrections(std::move(g), graphemeViews(marker), false);
    const QString iya = QStringLiteral("いや");
    g = removeCorrections(std::move(g), graphemeViews(iya), true);
    return tidyCommasAndSpaces(joined(g));
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

QString removeControls(const QString& input)
{
    // Also the invisible characters that make text read otherwise than it runs: bidi overrides
    // and isolates, zero-width marks and joiners, line and paragraph separators, BOM.
    const auto isControl = [](char16_t c) {
        return (c < 0x20 && c != u'\n' && c != u'\t') || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x180e
               || (c >= 0x200b && c <= 0x200f) || (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x2069)
               || c == 0xfeff;
    };
    qsizetype i = 0;
    const qsizetype n = input.size();
    while (i < n && !isControl(input.at(i).unicode()))
        ++i;
    if (i == n)
        return input;
    QString out = input.left(i);
    out.reserve(n);
    while (i < n) {
        const char16_t c = input.at(i).unicode();
        if (!isControl(c)) {
            out.append(input.at(i++));
            continue;
        }
        ++i;
        // ESC [ … final byte (CSI), ESC ] … BEL or ESC \ (OSC); C1's CSI and OSC likewise.
        const bool csi = c == 0x9b || (c == 0x1b && i < n && input.at(i) == u'[');
        const bool osc = c == 0x9d || (c == 0x1b && i < n && input.at(i) == u']');
        if (c == 0x1b && (csi || osc))
            ++i;
        if (csi) {
            while (i < n && input.at(i).unicode() >= 0x20 && input.at(i).unicode() < 0x40)
                ++i;
            if (i < n && input.at(i).unicode() >= 0x40 && input.at(i).unicode() < 0x7f)
                ++i;
        } else if (osc) {
            while (i < n && input.at(i).unicode() != 0x07 && input.at(i).unicode() != 0x9c
                   && !(input.at(i) == u'\x1b' && i + 1 < n && input.at(i + 1) == u'\\'))
                ++i;
            if (i < n)
                i += input.at(i) == u'\x1b' ? 2 : 1;
        } else if (c == 0x1b && i < n && input.at(i).unicode() >= 0x40 && input.at(i).unicode() < 0x60) {
            ++i; // a two-character escape (ESC c, ESC M, …)
        }
    }
    return out;
}

QString localText(const QString& raw, bool removeFillersOn, const QList<DictionaryEntry>& entries)
{
    QString text = removeControls(raw);
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
    return cleanSpeechArtifacts(applyDictionaryReplacement(removeControls(text), entries));
}

} // namespace vel::TextProcessor
