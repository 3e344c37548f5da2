#include "settings/ShortcutKey.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>

namespace vel {

namespace {

const std::map<quint16, QString>& keyCodeNames()
{
    static const std::map<quint16, QString> names = [] {
        std::map<quint16, QString> m;
        auto row = [&m](quint16 first, std::initializer_list<const char*> labels) {
            quint16 code = first;
            for (const char* label : labels)
                m.emplace(code++, QString::fromUtf8(label));
        };
        row(0, {"A", "S", "D", "F", "H", "G", "Z", "X", "C", "V"});
        row(11, {"B", "Q", "W", "E", "R", "Y", "T"});
        row(18, {"1", "2", "3", "4", "6", "5"});
        row(24, {"=", "9", "7", "-", "8", "0"});
        row(30, {"]", "O", "U", "[", "I", "P"});
        row(36, {"Return"});
        row(37, {"L", "J", "'", "K", ";", "\\", ",", "/", "N", "M", "."});
        row(48, {"Tab", "Space", "`", "Delete"});
        row(53, {"Esc"});
        for (const auto& [code, name] : ShortcutKey::modifierKeyCodes())
            m.emplace(code, name);
        row(76, {"Enter"});
        row(96, {"F5", "F6", "F7", "F3", "F8", "F9"});
        row(103, {"F11"});
        row(109, {"F10"});
        row(111, {"F12"});
        row(114, {"Help", "Home", "PageUp", "Forward Delete", "F4", "End", "F2", "PageDown", "F1",
                  "←", "→", "↓", "↑"});
        return m;
    }();
    return names;
}

} // namespace

const std::map<quint16, QString>& ShortcutKey::modifierKeyCodes()
{
    static const std::map<quint16, QString> table = {
        {54, QStringLiteral("Right Super")}, {55, QStringLiteral("Left Super")},
        {56, QStringLiteral("Left Shift")},  {60, QStringLiteral("Right Shift")},
        {58, QStringLiteral("Left Alt")},    {61, QStringLiteral("Right Alt")},
        {59, QStringLiteral("Left Ctrl")},   {62, QStringLiteral("Right Ctrl")},
        {63, QStringLiteral("Fn")},
    };
    return table;
}

bool ShortcutKey::isModifierKeyCode(quint16 code) { return modifierKeyCodes().count(code) > 0; }

quint64 ShortcutKey::modifierBitForKeyCode(quint16 code)
{
    switch (code) {
    case 54: case 55: return Command;
    case 56: case 60: return Shift;
    case 58: case 61: return Option;
    case 59: case 62: return Control;
    default: return 0;
    }
}

QString ShortcutKey::keyName() const
{
    const auto& names = keyCodeNames();
    auto it = names.find(keyCode);
    if (it != names.end())
        return it->second;
    return QStringLiteral("Key") + QString::number(keyCode);
}

QString ShortcutKey::label() const
{
    static const std::map<quint16, QString> pcNames = {
        {36, QStringLiteral("Enter")},
        {76, QStringLiteral("Keypad Enter")}, {51, QStringLiteral("Backspace")},
        {117, QStringLiteral("Delete")},     {114, QStringLiteral("Insert")},
        {116, QStringLiteral("Page Up")},    {121, QStringLiteral("Page Down")},
        {123, QStringLiteral("Left")},       {124, QStringLiteral("Right")},
        {125, QStringLiteral("Down")},       {126, QStringLiteral("Up")},
    };
    const auto pc = pcNames.find(keyCode);
    const QString key = pc != pcNames.end() ? pc->second : keyName();
    if (isLoneModifier())
        return key;
    QStringList parts;
    if (modifiers & Control) parts << QStringLiteral("Ctrl");
    if (modifiers & Option) parts << QStringLiteral("Alt");
    if (modifiers & Shift) parts << QStringLiteral("Shift");
    if (modifiers & Command) parts << QStringLiteral("Super");
    parts << key;
    return parts.join(QLatin1Char('+'));
}

bool ShortcutKey::matches(quint16 eventKeyCode, quint64 eventFlags) const
{
    if (isLoneModifier())
        return eventKeyCode == keyCode;
    return eventKeyCode == keyCode && (eventFlags & RelevantModifiers) == modifiers;
}

QByteArray ShortcutKey::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("keyCode"), static_cast<qint64>(keyCode));
    o.insert(QStringLiteral("modifiers"), static_cast<qint64>(modifiers));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<ShortcutKey> ShortcutKey::fromJson(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    auto unsignedField = [&o](const char* key, double max) -> std::optional<quint64> {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isDouble())
            return std::nullopt;
        const double d = v.toDouble();
        if (!std::isfinite(d) || d < 0 || d > max || std::trunc(d) != d)
            return std::nullopt;
        return static_cast<quint64>(v.toInteger(static_cast<qint64>(d)));
    };
    const auto code = unsignedField("keyCode", 65535.0);
    const auto mods = unsignedField("modifiers", 9.2e18);
    if (!code || !mods)
        return std::nullopt;
    return ShortcutKey{static_cast<quint16>(*code), *mods};
}

} // namespace vel
