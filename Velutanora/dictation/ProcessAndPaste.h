#pragma once

#include "common/Task.h"
#include "dictation/DictationOutcome.h"
#include "dictation/Workspace.h"
#include "recording/SpeechManager.h"
#include "settings/AppSettings.h"

#include <functional>

namespace vel {

class Clock;
class GeminiService;
class KeptAudio;
class Logger;
class PasteService;
class RecordingHistory;
class UsageTracker;

// What the pipeline talks to; any may be absent (no correction, no paste, nothing recorded).
struct PipelineServices {
    GeminiService* gemini = nullptr;
    PasteService* paste = nullptr;
    UsageTracker* usage = nullptr;
    RecordingHistory* history = nullptr;
    KeptAudio* kept = nullptr; // with the history: where a recording that gave no words is kept
};

// Keeps a recording that gave no words, with a history entry that says why, for a later try;
// the entry's id, or none when it could not be kept.
std::optional<QUuid> keepForRetry(const QByteArray& wav, const QString& why, const PipelineServices& services, Logger& log);

// Whether a dictation's recording goes to Gemini (and a text's words, for the process command):
// a key is set and the mode is not the instant one.
bool sendsAudioToGemini(const AppSettings& settings, std::optional<CorrectionMode> mode = std::nullopt);

// Gemini's answer, cleaned and formatted (possibly empty), or why there is none.
struct Correction {
    std::optional<QString> rewritten;
    QString failure;

    // What to paste: the answer when it has words, the local text otherwise.
    QString finalText(const QString& localText) const;
};

// Why Gemini's answer cannot be the dictation's text (empty: it can): far longer than the
// recording allows at a fast speaker's rate, or than the text it corrected allows, or far shorter
// than that text (a cut-off answer). Characters other than white space are counted.
QString implausibleAnswer(const QString& answer, const QString& localText, std::optional<double> audioSeconds);

// Has Gemini correct the locally cleaned text, or transcribe the recording when there is one,
// and records the usage it reports. Never throws: a failure is the Correction's reason.
Task<Correction> correctWithGemini(QString localText, std::optional<QByteArray> wav, CorrectionMode mode,
                                   AppSettings& settings, GeminiService& gemini, UsageTracker* usage,
                                   Logger& log, Clock& clock);

// What the pipeline reports while it works, for whoever shows the dictation; any may be unset.
struct PipelineProgress {
    std::function<void(const QByteArray& wav)> wavBuilt;     // the recording as sent to Gemini
    std::function<void(const QString& line)> debugLine;      // for the debug log
    std::function<void(const QString& text)> transcribed;    // the local text, formatted
    std::function<void(bool active)> rewriting;              // Gemini is at work
    std::function<void(const QString& text)> rewritten;      // Gemini's answer, formatted
    std::function<void(const QString& status)> status;       // the status line as it changes
};

// The text of a dictation or of a given text, cleaned locally and, when the mode and the key call
// for it, corrected by Gemini (which hears the recording when there is one).
struct CleanedText {
    QString finalText;                  // Gemini's answer when it has words, else the local text
    std::optional<QString> originalText; // the local text, when Gemini's answer replaced it
    QString correctionFailure;          // why Gemini gave nothing, when it was asked
    bool corrected = false;             // Gemini answered
};
Task<CleanedText> cleanAndCorrect(QString raw, std::optional<QByteArray> wav, bool audioCut, CorrectionMode mode,
                                  AppSettings& settings, GeminiService* gemini, UsageTracker* usage,
                                  PipelineProgress progress, Logger& log, Clock& clock);

// Turns a stopped dictation into pasted text: local clean-up, Gemini when the mode and the key
// call for it (with the local text as the fallback), history, usage, the paste into target.
// It reports its progress and returns what became of the text; it keeps no state of its own.
Task<DictationOutcome> processAndPaste(StoppedDictation dictation, ApplicationRef target, AppSettings& settings,
                                       PipelineServices services, PipelineProgress progress, Logger& log, Clock& clock);

} // namespace vel
