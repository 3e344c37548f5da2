#include "platform/wayland/CompositorBindings.h"

#include <xkbcommon/xkbcommon.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

namespace vel::CompositorBindings {

namespace {

// The keysym name a compositor's configuration uses for the key ("space", "Control_R").
QString keyName(quint32 keysym)
{
    char buffer[64] = {};
    if (xkb_keysym_get_name(keysym, buffer, sizeof buffer) <= 0)
        return {};
    return QString::fromLatin1(buffer);
}

QString shellQuoted(const QString& arg)
{
    if (!arg.isEmpty() && arg.indexOf(QRegularExpression(QStringLiteral("[^A-Za-z0-9_./:@-]"))) < 0)
        return arg;
    return QLatin1Char('\'') + QString(arg).replace(QStringLiteral("'"), QStringLiteral("'\\''")) + QLatin1Char('\'');
}

// The command a binding runs: each compositor hands it to a shell (river's spawn, sway's and
// Hyprland's exec, GNOME's g_shell_parse_argv), so the program's path is escaped for one. With
// backslashes, not quotes: sway drops the quotes of a binding's command but keeps backslashes.
QString commandLine(const QString& program, const QString& option)
{
    static const QRegularExpression special(QStringLiteral("([\\x20-\\x2a\\x3b-\\x3f\\x5b-\\x5e\\x60\\x7b-\\x7e])"));
    return QString(program).replace(special, QStringLiteral("\\\\1")) + QLatin1Char(' ') + option;
}

struct Syntax {
    QString control, alt, shift, super, joiner, none;
};

Syntax syntaxOf(Compositor compositor)
{
    switch (compositor) {
    case Compositor::Hyprland: return {"CTRL", "ALT", "SHIFT", "SUPER", " ", ""};
    case Compositor::River: return {"Control", "Alt", "Shift", "Super", "+", "None"};
    case Compositor::Gnome: return {"<Control>", "<Alt>", "<Shift>", "<Super>", "", ""};
    case Compositor::Sway:
    case Compositor::Other: break;
    }
    return {"Ctrl", "Mod1", "Shift", "Mod4", "+", ""};
}

QStringList modifierNames(quint8 modifiers, const Syntax& syntax)
{
    QStringList names;
    const std::pair<quint8, QString> order[] = {{ShortcutKey::Ctrl, syntax.control}, {ShortcutKey::Alt, syntax.alt},
                                                {ShortcutKey::Shift, syntax.shift}, {ShortcutKey::Super, syntax.super}};
    for (const auto& [bit, name] : order)
        if (modifiers & bit)
            names << name;
    return names;
}

// One binding; empty when the key has no keysym.
QString binding(Compositor compositor, const ShortcutKey& key, const QString& command)
{
    const QString sym = keyName(key.keysym);
    if (sym.isEmpty())
        return {};
    const Syntax syntax = syntaxOf(compositor);
    const bool lone = key.isLoneModifier();
    QStringList mods = modifierNames(key.modifiers, syntax);
    switch (compositor) {
    case Compositor::Hyprland:
        // A release binding of a modifier carries that modifier in its mask.
        if (lone)
            mods = modifierNames(ShortcutKey::modifierOf(key.keysym), syntax);
        // "#" starts a comment in Hyprland's configuration; "##" is a literal one.
        return QStringLiteral("%1 = %2, %3, exec, %4")
            .arg(lone ? "bindr" : "bind", mods.join(syntax.joiner), sym, QString(command).replace(QStringLiteral("#"), QStringLiteral("##")));
    case Compositor::River:
        // riverctl runs in the user's init script: the command is one argument of that shell.
        return QStringLiteral("riverctl map %1normal %2 %3 spawn %4")
            .arg(lone ? "-release " : "", mods.isEmpty() ? syntax.none : mods.join(syntax.joiner), sym, shellQuoted(command));
    case Compositor::Gnome: // custom shortcuts come as gsettings commands: see gnomeCommands
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
    if (desktop.contains(QLatin1String("gnome")))
        return Compositor::Gnome;
    return Compositor::Other;
}

QString name(Compositor compositor)
{
    switch (compositor) {
    case Compositor::Sway: return QStringLiteral("sway");
    case Compositor::Hyprland: return QStringLiteral("Hyprland");
    case Compositor::River: return QStringLiteral("river");
    case Compositor::Gnome: return QStringLiteral("GNOME");
    case Compositor::Other: break;
    }
    return QStringLiteral("sway 形式");
}

namespace {

const QString kMediaKeys = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
const QString kCustomBase = QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/");

} // namespace

QString gnomeAccelerator(const ShortcutKey& key, bool plainKeyAllowed)
{
    if (key.isLoneModifier() || (key.modifiers == 0 && !plainKeyAllowed))
        return {};
    const QString sym = keyName(key.keysym);
    if (sym.isEmpty())
        return {};
    return modifierNames(key.modifiers, syntaxOf(Compositor::Gnome)).join(QString()) + sym;
}

namespace {

QString gsettingsList(const QStringList& paths)
{
    QStringList quoted;
    for (const QString& p : paths)
        quoted << QLatin1Char('\'') + p + QLatin1Char('\'');
    return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

} // namespace

QStringList parseGsettingsList(const QString& printed)
{
    QStringList out;
    static const QRegularExpression item(QStringLiteral("'([^']*)'"));
    for (auto it = item.globalMatch(printed); it.hasNext();)
        out << it.next().captured(1);
    return out;
}

QList<QStringList> gnomeCommands(const QStringList& existingPaths, const ShortcutKey& start, const ShortcutKey& cancel,
                                 const QString& program)
{
    QList<QStringList> commands;
    QStringList paths = existingPaths;
    const std::pair<QString, std::pair<ShortcutKey, QString>> entries[] = {
        {QStringLiteral("velutanora-toggle/"), {start, QStringLiteral("--toggle")}},
        {QStringLiteral("velutanora-cancel/"), {cancel, QStringLiteral("--cancel")}}};
    for (const auto& [leaf, entry] : entries) {
        const QString path = kCustomBase + leaf;
        const QString accelerator = gnomeAccelerator(entry.first);
        if (accelerator.isEmpty()) {
            paths.removeAll(path); // an entry from before that no longer applies
            continue;
        }
        const QString schema = kMediaKeys + QStringLiteral(".custom-keybinding:") + path;
        commands << QStringList{"set", schema, "name", QStringLiteral("Velutanora ") + entry.second}
                 << QStringList{"set", schema, "command", commandLine(program, entry.second)}
                 << QStringList{"set", schema, "binding", accelerator};
        if (!paths.contains(path))
            paths << path;
    }
    commands << QStringList{"set", kMediaKeys, "custom-keybindings", gsettingsList(paths)};
    return commands;
}

namespace {

// An accelerator in one spelling: modifiers sorted, their aliases folded, the key without case.
QString normalAccelerator(const QString& accelerator)
{
    static const QRegularExpression modifier(QStringLiteral("<([A-Za-z0-9_]+)>"));
    QStringList modifiers;
    for (auto it = modifier.globalMatch(accelerator); it.hasNext();) {
        QString name = it.next().captured(1).toLower();
        if (name == QLatin1String("primary") || name == QLatin1String("ctrl") || name == QLatin1String("control"))
            name = QStringLiteral("control");
        else if (name == QLatin1String("mod1"))
            name = QStringLiteral("alt");
        else if (name == QLatin1String("mod4"))
            name = QStringLiteral("super");
        if (!modifiers.contains(name))
            modifiers << name;
    }
    modifiers.sort();
    QString key = accelerator;
    key.remove(modifier);
    return modifiers.join(QLatin1Char('+')) + QLatin1Char('|') + key.trimmed().toLower();
}

// GNOME's own bindings, and the user's other custom shortcuts, as gnomeHolder reads them.
QStringList gnomeListing()
{
    QStringList listing;
    for (const char* schema : {"org.gnome.desktop.wm.keybindings", "org.gnome.shell.keybindings",
                               "org.gnome.mutter.keybindings", "org.gnome.mutter.wayland.keybindings",
                               "org.gnome.settings-daemon.plugins.media-keys"}) {
        QProcess list;
        list.start(QStringLiteral("gsettings"), {"list-recursively", QString::fromLatin1(schema)});
        if (list.waitForFinished(5000) && list.exitCode() == 0)
            listing << QString::fromUtf8(list.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QProcess get;
    get.start(QStringLiteral("gsettings"), {"get", kMediaKeys, "custom-keybindings"});
    if (!get.waitForFinished(5000) || get.exitCode() != 0)
        return listing;
    for (const QString& path : parseGsettingsList(QString::fromUtf8(get.readAllStandardOutput()))) {
        if (path.startsWith(kCustomBase + QStringLiteral("velutanora-")))
            continue; // ours are rewritten
        const QString schema = kMediaKeys + QStringLiteral(".custom-keybinding:") + path;
        QString fields[2];
        const char* keys[] = {"name", "binding"};
        for (int i = 0; i < 2; ++i) {
            QProcess field;
            field.start(QStringLiteral("gsettings"), {"get", schema, QString::fromLatin1(keys[i])});
            field.waitForFinished(5000);
            fields[i] = QString::fromUtf8(field.readAllStandardOutput()).trimmed();
        }
        listing << QStringLiteral("custom %1 [%2]").arg(fields[0], fields[1]);
    }
    return listing;
}

} // namespace

QString gnomeHolder(const QString& accelerator, const QStringList& listing)
{
    if (accelerator.isEmpty())
        return {};
    const QString wanted = normalAccelerator(accelerator);
    static const QRegularExpression line(QStringLiteral("^(\\S+) ('(?:[^']*)'|\\S+) (.*)$"));
    static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
    for (const QString& entry : listing) {
        const auto match = line.match(entry.trimmed());
        if (!match.hasMatch())
            continue;
        for (auto it = quoted.globalMatch(match.captured(3)); it.hasNext();) {
            const QString bound = it.next().captured(1);
            if (!bound.isEmpty() && normalAccelerator(bound) == wanted) {
                QString action = match.captured(2);
                if (action.startsWith(QLatin1Char('\'')))
                    action = action.mid(1, action.size() - 2);
                return action;
            }
        }
    }
    return {};
}

std::optional<ShortcutKey> freeGnomeChord(const QStringList& listing, const ShortcutKey& taken)
{
    const ShortcutKey candidates[] = {{ShortcutKey::kSpace, ShortcutKey::Ctrl | ShortcutKey::Alt},
                                      {0xffc6 /* F9 */, ShortcutKey::Super},
                                      {0xffc7 /* F10 */, ShortcutKey::Super},
                                      {ShortcutKey::kSpace, ShortcutKey::Ctrl | ShortcutKey::Shift}};
    for (const ShortcutKey& key : candidates)
        if (!(key == taken) && gnomeHolder(gnomeAccelerator(key), listing).isEmpty())
            return key;
    return std::nullopt;
}

QString installInGnome(const ShortcutKey& start, const ShortcutKey& cancel, const QString& program)
{
    // gsd-media-keys cannot take a key GNOME already holds: it only logs the failed grab.
    const QStringList listing = gnomeListing();
    for (const ShortcutKey* each : {&start, &cancel}) {
        const ShortcutKey& key = *each;
        const QString holder = gnomeHolder(gnomeAccelerator(key), listing);
        if (holder.isEmpty())
            continue;
        const std::optional<ShortcutKey> free = freeGnomeChord(listing, &key == &start ? cancel : start);
        return QStringLiteral("%1 は GNOME の「%2」が使っています。%3")
            .arg(key.label(), holder,
                 free ? QStringLiteral("空いている %1 などに変えてから、もう一度登録してください").arg(free->label())
                      : QStringLiteral("別のキーに変えてから、もう一度登録してください"));
    }
    QProcess get;
    get.start(QStringLiteral("gsettings"), {"get", kMediaKeys, "custom-keybindings"});
    if (!get.waitForFinished(5000) || get.exitCode() != 0)
        return QStringLiteral("gsettings get failed: ") + QString::fromLocal8Bit(get.readAllStandardError()).trimmed();
    const QStringList existing = parseGsettingsList(QString::fromUtf8(get.readAllStandardOutput()));
    for (const QStringList& args : gnomeCommands(existing, start, cancel, program)) {
        QProcess set;
        set.start(QStringLiteral("gsettings"), args);
        if (!set.waitForFinished(5000) || set.exitCode() != 0)
            return QStringLiteral("gsettings %1 failed: %2").arg(args.join(QLatin1Char(' ')),
                                                                 QString::fromLocal8Bit(set.readAllStandardError()).trimmed());
    }
    return {};
}

QString lines(Compositor compositor, const ShortcutKey& start, const ShortcutKey& cancel, const QString& program)
{
    QStringList out;
    const QString comment = QStringLiteral("# ");
    if (compositor == Compositor::Gnome) {
        out << comment + QStringLiteral("Velutanora: 設定 → キーボード → カスタムショートカット と同じものを作ります。")
            << comment + QStringLiteral("「GNOMEに登録」は既存のカスタムショートカットを残したまま一覧に加えます。");
        if (start.isLoneModifier())
            out << comment + QStringLiteral("GNOMEのカスタムショートカットは単独の修飾キーを割り当てられません。");
        if (cancel.modifiers == 0 && !cancel.isLoneModifier())
            out << comment + QStringLiteral("修飾キーのないキャンセル（Esc）は、どのアプリにも届かなくなるため割り当てません。");
        for (const QStringList& args : gnomeCommands({}, start, cancel, program)) {
            if (args.value(2) == QLatin1String("custom-keybindings"))
                continue; // the merged list depends on the user's own entries
            QStringList quoted;
            for (const QString& a : args)
                quoted << shellQuoted(a);
            out << QStringLiteral("gsettings ") + quoted.join(QLatin1Char(' '));
        }
        return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    out << comment + QStringLiteral("Velutanora: 録音の開始と停止 / キャンセル");
    const QString toggle = binding(compositor, start, commandLine(program, QStringLiteral("--toggle")));
    if (!toggle.isEmpty())
        out << toggle;
    // Hyprland's "n" binding passes the key on; sway's and river's take it from every application.
    const bool plainEscape = cancel == ShortcutKey::defaultCancel();
    if (compositor == Compositor::Hyprland) {
        const QString c = binding(compositor, cancel, commandLine(program, QStringLiteral("--cancel")));
        if (!c.isEmpty())
            out << (plainEscape ? QString(c).replace(QStringLiteral("bind ="), QStringLiteral("bindn =")) : c);
    } else {
        const QString c = binding(compositor, cancel, commandLine(program, QStringLiteral("--cancel")));
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
