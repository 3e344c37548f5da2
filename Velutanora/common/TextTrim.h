#pragma once

#include <QString>

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

} // namespace vel
