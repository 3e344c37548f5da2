#include "desktop/platform/CompositorBindings.h"

#include "desktop/KeyTranslation.h"

#include <xkbcommon/xkbcommon.h>

#include <QStringList>

namespace vel::CompositorBindings {

namespace {

// The keysym name a compositor's configuration uses for the key ("space", "Control_R").
QString keyName(quint16 keyCode)
{
    const QList<quint32> syms = KeyTranslation::keysymsForVirtualKey(keyCode);
    if (syms.isEmpty())
        return {};
    char buffer[64] = {};
    if (xkb_keysym_get_name(syms.first(), buffer, sizeof buffer) <= 0)
        return {};
    return QString::fromLatin1(buffer);
}

struct Syntax {
    QString control, alt, shift, super, joiner, none;
};

Syntax syntaxOf(Compositor compositor)
{
    switch (compositor) {
    case Compositor::Hyprland: return {"CTRL", "ALT", "SHIFT", "SUPER", " ", ""};
    case Compositor::River: return {"Control", "Alt", "Shift", "Super", "+", "None"};
    case Compositor::Sway:
    case Compositor::Other: break;
    }
    return {"Ctrl", "Mod1", "Shift", "Mod4", "+", ""};
}

QStringList modifierNames(quint64 bits, const Syntax& syntax)
{
    QStringList names;
    const std::pair<quint64, QString> order[] = {{ShortcutKey::Control, syntax.control}, {ShortcutKey::Option, syntax.alt},
                                                 {ShortcutKey::Shift, syntax.shift}, {ShortcutKey::Command, syntax.super}};
    for (const auto& [bit, name] : order)
        if (bits & bit)
            names << name;
    return names;
}

// One binding; empty when the key has no keysym.
QString binding(Compositor compositor, const ShortcutKey& key, const QString& command)
{
    const QString sym = keyName(key.keyCode);
    if (sym.isEmpty())
        return {};
    const Syntax syntax = syntaxOf(compositor);
    const bool lone = key.isLoneModifier();
    QStringList mods = modifierNames(key.modifiers, syntax);
    switch (compositor) {
    case Compositor::Hyprland:
        // A release binding of a modifier carries that modifier in its mask.
        if (lone)
            mods = modifierNames(ShortcutKey::modifierBitForKeyCode(key.keyCode), syntax);
        return QStringLiteral("%1 = %2, %3, exec, %4").arg(lone ? "bindr" : "bind", mods.join(syntax.joiner), sym, command);
    case Compositor::River:
        return QStringLiteral("riverctl map %1normal %2 %3 spawn '%4'")
            .arg(lone ? "-release " : "", mods.isEmpty() ? syntax.none : mods.join(syntax.joiner), sym, command);
    case Compositor::Sway:
    case Compositor::Other: break;
    }
    mods << sym;
    return QStringLiteral("bindsym %1%2 exec %3").arg(lone ? "--release " : "", mods.join(syntax.joiner), command);
}

} // namespace

Compositor detect(const QProcessEnvironment& environment)
{
    const QString desktop = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")).toLower();
    if (environment.contains(QStringLiteral("SWAYSOCK")) || desktop.contains(QLatin1String("sway")))
        return Compositor::Sway;
    if (environment.contains(QStringLiteral("HYPRLAND_INSTANCE_SIGNATURE")) || desktop.contains(QLatin1String("hyprland")))
        return Compositor::Hyprland;
    if (desktop.contains(QLatin1String("river")))
        return Compositor::River;
    return Compositor::Other;
}

QString name(Compositor compositor)
{
    switch (compositor) {
    case Compositor::Sway: return QStringLiteral("sway");
    case Compositor::Hyprland: return QStringLiteral("Hyprland");
    case Compositor::River: return QStringLiteral("river");
    case Compositor::Other: break;
    }
    return QStringLiteral("sway 形式");
}

QString lines(Compositor compositor, const ShortcutKey& start, const ShortcutKey& cancel, const QString& program)
{
    QStringList out;
    const QString comment = QStringLiteral("# ");
    out << comment + QStringLiteral("Velutanora: 録音の開始と停止 / キャンセル");
    const QString toggle = binding(compositor, start, program + QStringLiteral(" --toggle"));
    if (!toggle.isEmpty())
        out << toggle;
    // Hyprland's "n" binding passes the key on; sway's and river's take it from every application.
    const bool plainEscape = cancel == ShortcutKey::defaultCancel();
    if (compositor == Compositor::Hyprland) {
        const QString c = binding(compositor, cancel, program + QStringLiteral(" --cancel"));
        if (!c.isEmpty())
            out << (plainEscape ? QString(c).replace(QStringLiteral("bind ="), QStringLiteral("bindn =")) : c);
    } else {
        const QString c = binding(compositor, cancel, program + QStringLiteral(" --cancel"));
        if (plainEscape) {
            out << comment + QStringLiteral("Esc をここで割り当てると、どのアプリにも Esc が届かなくなります。")
                << comment + QStringLiteral("キャンセルには別のショートカット（例: Super+Esc）を設定してください。")
                << comment + c;
        } else if (!c.isEmpty()) {
            out << c;
        }
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace vel::CompositorBindings
