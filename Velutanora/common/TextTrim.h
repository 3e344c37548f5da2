#pragma once

#include <QString>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace vel {

// Removes, from both ends, the code points for which `isTrimmed` is true.
template <class Predicate>
QString trimCodePoints(const QString& text, Predicate isTrimmed)
{
    const QList<uint> cps = text.toUcs4();
    qsizetype begin = 0;
    qsizetype end = cps.size();
    while (begin < end && isTrimmed(static_cast<char32_t>(cps.at(begin))))
        ++begin;
    while (end > begin && isTrimmed(static_cast<char32_t>(cps.at(end - 1))))
        --end;
    if (begin == 0 && end == cps.size())
        return text;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData()) + begin, end - begin);
}

// Grapheme clusters of a text (what a reader counts as characters).
inline QStringList graphemes(const QString& text)
{
    QStringList out;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        if (end > start)
            out.append(text.mid(start, end - start));
        start = end;
    }
    return out;
}

} // namespace vel
