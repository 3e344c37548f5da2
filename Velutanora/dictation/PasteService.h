#pragma once

#include "common/Task.h"
#include "dictation/Pasteboard.h"
#include "dictation/SyntheticInput.h"

#include <QString>
#include <QStringList>

namespace vel {

class Clock;
class Logger;

// Delivers a result into another application: the clipboard, the target brought to the front,
// and the target's paste chord.
class PasteService {
public:
    static inline const QString kPastedStatus = QStringLiteral("📋 ペーストしました");

    // What became of the text: pasted only when the chord went out; otherwise where the text is
    // and why it was not pasted.
    struct Result {
        bool pasted = false;
        bool copied = false;
        QString status;
        QString reason;
    };

    PasteService(Logger& log, Clock& clock, Pasteboard& pasteboard, SyntheticInput& input);

    Task<Result> copyAndPaste(QString text, ApplicationRef target);
    // Only onto the clipboard: empty when it took the text, else why not.
    Task<QString> copy(QString text) { return m_pasteboard.setText(std::move(text)); }
    // Brings the application to the front and waits for it: whether it holds the focus then.
    Task<bool> activateApp(ApplicationRef app);

    // "📋 コピー済み（Ctrl+Vでペースト）— reason": the text is on the clipboard, not pasted.
    static QString copiedStatus(const KeyChord& chord, const QString& reason);
    // The text could not even be copied: it is in the history.
    static QString notCopiedStatus(const QString& reason);

    // Ctrl+V, or Ctrl+Shift+V for terminal emulators (recognised by their window class).
    static KeyChord pasteChordFor(const ApplicationRef& target);
    static bool isTerminalClass(const QString& windowClass);
    static const QStringList& terminalClasses();

private:
    Logger& m_log;
    Clock& m_clock;
    Pasteboard& m_pasteboard;
    SyntheticInput& m_input;
};

} // namespace vel
