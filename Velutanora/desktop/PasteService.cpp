#include "desktop/PasteService.h"

#include "common/Clock.h"
#include "common/Logger.h"

#include <QRegularExpression>

namespace vel {

PasteService::PasteService(Logger& log, Clock& clock, Pasteboard& pasteboard, SyntheticInput& input)
    : m_log(log), m_clock(clock), m_pasteboard(pasteboard), m_input(input)
{
}

const QStringList& PasteService::terminalClasses()
{
    // Window classes (WM_CLASS, either part, compared without case) of common terminal emulators.
    static const QStringList classes{
        QStringLiteral("xterm"),          QStringLiteral("uxterm"),          QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"), QStringLiteral("org.gnome.terminal"), QStringLiteral("org.gnome.console"),
        QStringLiteral("kgx"),            QStringLiteral("konsole"),         QStringLiteral("org.kde.konsole"),
        QStringLiteral("alacritty"),      QStringLiteral("kitty"),           QStringLiteral("wezterm"),
        QStringLiteral("org.wezfurlong.wezterm"), QStringLiteral("terminator"), QStringLiteral("tilix"),
        QStringLiteral("com.gexperts.tilix"), QStringLiteral("xfce4-terminal"), QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),           QStringLiteral("rxvt-unicode"),    QStringLiteral("foot"),
        QStringLiteral("footclient"),     QStringLiteral("st-256color"),     QStringLiteral("lxterminal"),
        QStringLiteral("mate-terminal"),  QStringLiteral("qterminal"),       QStringLiteral("terminology"),
        QStringLiteral("sakura"),         QStringLiteral("guake"),           QStringLiteral("tilda"),
        QStringLiteral("yakuake"),        QStringLiteral("cool-retro-term"), QStringLiteral("ghostty"),
        QStringLiteral("com.mitchellh.ghostty"), QStringLiteral("contour"),  QStringLiteral("blackbox"),
    };
    return classes;
}

bool PasteService::isTerminalClass(const QString& windowClass)
{
    // WM_CLASS holds instance and class; a backend may pass either or both ("xterm XTerm").
    const QStringList parts = windowClass.toLower().split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (terminalClasses().contains(part))
            return true;
    }
    return false;
}

KeyChord PasteService::pasteChordFor(const ApplicationRef& target)
{
    if (target && isTerminalClass(target->windowClass()))
        return KeyChord{kKeyCodeV, ShortcutKey::Control | ShortcutKey::Shift};
    return KeyChord{kKeyCodeV, ShortcutKey::Control};
}

Task<QString> PasteService::copyAndPaste(QString text, ApplicationRef target)
{
    m_log.line(QStringLiteral("📋 [clipboard] ") + quotedDebugForm(text));
    m_pasteboard.setText(text);
    // A desktop that asks the user first shows its dialog before the target comes forward.
    const bool allowed = co_await m_input.prepare();
    if (target && !target->isTerminated())
        co_await activateApp(target);
    if (allowed) {
        simulatePaste(target);
        co_return kPastedStatus;
    }
    m_input.requestPermission();
    const QString refusal = m_input.refusalStatus();
    co_return refusal.isEmpty() ? kCopiedOnlyStatus : refusal;
}

Task<void> PasteService::activateApp(ApplicationRef app)
{
    if (!app->isActive()) {
        app->activate();
        for (int attempt = 0; attempt < 20; ++attempt) {
            co_await sleepFor(m_clock, 0.05);
            if (app->isActive())
                break;
        }
    }
    co_await sleepFor(m_clock, 0.1);
}

void PasteService::simulatePaste(const ApplicationRef& target)
{
    m_input.postKeyStroke(pasteChordFor(target), target);
}

} // namespace vel
