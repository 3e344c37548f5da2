#pragma once

#include <QString>
#include <QStringList>

namespace vel {

// The final shape of every shown or pasted text: trimmed, closed with a full stop, question
// endings closed with "？", one sentence per line. format(format(x)) == format(x).
namespace TextFormatter {

QString format(const QString& text);
QString convertQuestionEndings(const QString& text);
const QStringList& questionEndings();
// Removes Zs characters, tabs and line breaks from both ends.
QString trimWhitespaceAndNewlines(const QString& text);

} // namespace TextFormatter

} // namespace vel
