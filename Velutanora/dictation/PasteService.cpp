#include "dictation/PasteService.h"

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
        QStringLiteral("com.raggesilver.blackbox"), QStringLiteral("ptyxis"), QStringLiteral("org.gnome.ptyxis"),
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
        return KeyChord{kKeysymV, ShortcutKey::Ctrl | ShortcutKey::Shift};
    return KeyChord{kKeysymV, ShortcutKey::Ctrl};
}

QString PasteService::copiedStatus(const KeyChord& chord, const QString& reason)
{
    const QString keys = chord.modifiers & ShortcutKey::Shift ? QStringLiteral("Ctrl+Shift+V") : QStringLiteral("Ctrl+V");
    return QStringLiteral("📋 コピー済み（%1でペースト）— %2").arg(keys, reason);
}

QString PasteService::notCopiedStatus(const QString& reason)
{
    return QStringLiteral("⚠️ %1。結果は設定の「履歴」からコピーできます").arg(reason);
}

Task<PasteService::Result> PasteService::copyAndPaste(QString text, ApplicationRef target)
{
    Result result;
    const QString clipboardFailure = co_await m_pasteboard.setText(text);
    if (!clipboardFailure.isEmpty()) {
        // No chord then: it would paste whatever the clipboard held before.
        m_log.content(QStringLiteral("📋 [clipboard] not set (%1): ").arg(clipboardFailure), text);
        result.reason = clipboardFailure;
        result.status = notCopiedStatus(clipboardFailure);
        co_return result;
    }
    m_log.content(QStringLiteral("📋 [clipboard] "), text);
    result.copied = true;
    const KeyChord chord = pasteChordFor(target);
    // A desktop that asks the user first shows its dialog before the target comes forward. A
    // target that has gone, or that does not come to the front, gets no chord: it would paste
    // into whatever window has the keyboard instead.
    StrokeResult stroke = co_await m_input.prepare();
    if (stroke.sent() && target) {
        QString away;
        if (target->isTerminated()) {
            away = QStringLiteral("貼り付け先のウィンドウが閉じられました");
        } else {
            const bool inFront = co_await activateApp(target);
            if (!inFront)
                away = QStringLiteral("貼り付け先のウィンドウが前面に戻りませんでした");
        }
        if (!away.isEmpty())
            stroke = StrokeResult::unavailable(away);
    }
    if (stroke.sent())
        stroke = co_await m_input.sendKeyStroke(chord, target);
    if (stroke.sent()) {
        result.pasted = true;
        result.status = kPastedStatus;
    } else {
        m_log.line(QStringLiteral("📋 [paste] no paste chord sent: ") + stroke.reason);
        result.reason = stroke.reason;
        result.status = copiedStatus(chord, stroke.reason);
    }
    co_return result;
}

Task<bool> PasteService::activateApp(ApplicationRef app)
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
    // Still in front after the settling time: another window may have taken the focus meanwhile.
    co_return app->isActive() && !app->isTerminated();
}

} // namespace vel
