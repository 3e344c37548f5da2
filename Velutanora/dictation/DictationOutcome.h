#pragma once

#include <QString>
#include <QUuid>

namespace vel {

// How one processed dictation ended, for whoever tells the user: the panel, a notification,
// the tray, continuous mode (Return follows a paste, never nothing).
struct DictationOutcome {
    enum class Kind {
        Pasted,       // the text is on the clipboard and the paste chord went out
        Kept,         // the text is kept (clipboard and/or history) but was not pasted: see reason
        NothingHeard, // no words and no audio: nothing to deliver
        Failed,       // no words came (Gemini failed, and no local text): see status; the
                      // recording may be kept for a later try (retryEntry)
        Abandoned,    // a new dictation or a cancel came first; the text went to the history only
    };
    Kind kind = Kind::NothingHeard;
    QString text;              // the final text (Pasted, Kept, Abandoned)
    QString status;            // the status line for this outcome
    QString reason;            // Kept: why it was not pasted, in words for the user
    QString correctionFailure; // "⚠️ Gemini: …" when the local text replaced Gemini's answer
    bool onClipboard = false;  // Pasted, Kept: the clipboard holds the text
    QUuid retryEntry;          // Failed: the history entry of the kept recording, if it was kept

    bool pasted() const { return kind == Kind::Pasted; }
    bool delivered() const { return kind == Kind::Pasted || kind == Kind::Kept; }
};

} // namespace vel
