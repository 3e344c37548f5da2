#pragma once

#include "common/Task.h"
#include "desktop/DesktopSeams.h"

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
    static inline const QString kCopiedOnlyStatus =
        QStringLiteral("📋 コピー済み（⌘Vでペースト）— アクセシビリティ権限を許可してください");

    PasteService(Logger& log, Clock& clock, Pasteboard& pasteboard, SyntheticInput& input);

    Task<QString> copyAndPaste(QString text, ApplicationRef target);
    Task<void> activateApp(ApplicationRef app);
    void simulatePaste(const ApplicationRef& target);

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
