#pragma once

#include "common/TextTrim.h"
#include "settings/DictionaryEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vel {

// Local, rule-based clean-up of Japanese dictation text. Pure functions. Positions and counts
// are in user-perceived characters (grapheme clusters); texts are compared in NFC.
namespace TextProcessor {

QString removeFillers(const QString& text);
QString handleSelfCorrections(const QString& text);
QString applyDictionaryReplacement(const QString& text, const QList<DictionaryEntry>& entries);
QString cleanSpeechArtifacts(const QString& text);
// Removes control characters but line feed and tab (C0, DEL, C1), and whole terminal escape
// sequences: nothing pasted, printed or stored may move a terminal's cursor or end a string.
QString removeControls(const QString& text);
QString removeDuplicateSentences(const QString& text);

// Internal steps, exposed for tests.
QString removeCorrectionWithContext(const QString& text, const QString& marker, bool requireCommas);
// Character index (in the graphemes of `before`) where the retracted phrase begins.
int findCorrectionStart(const QStringList& before);

// The clean-up the pipeline runs on the recogniser's text ("local text").
QString localText(const QString& raw, bool removeFillersOn, const QList<DictionaryEntry>& entries);
// What the pipeline runs on Gemini's answer before formatting.
QString postProcessGeminiText(const QString& text, const QList<DictionaryEntry>& entries);

const QStringList& fillers();
const QStringList& correctionMarkers();

using vel::graphemes;
// Removes Zs characters and tabs from both ends (line breaks stay).
QString trimSpaces(const QString& text);

} // namespace TextProcessor

} // namespace vel
