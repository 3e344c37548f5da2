#include "settings/ShortcutKey.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>
#include <map>

namespace vel {

namespace {

// Key names that are not the keysym's own character.
const std::map<quint32, QString>& namedKeys()
{
    static const std::map<quint32, QString> names = {
        {0x20, QStringLiteral("Space")},        {0xff0d, QStringLiteral("Enter")},
        {0xff09, QStringLiteral("Tab")},        {0xff08, QStringLiteral("Backspace")},
        {0xff1b, QStringLiteral("Esc")},        {0xffff, QStringLiteral("Delete")},
        {0xff63, QStringLiteral("Insert")},     {0xff50, QStringLiteral("Home")},
        {0xff57, QStringLiteral("End")},        {0xff55, QStringLiteral("Page Up")},
        {0xff56, QStringLiteral("Page Down")},  {0xff51, QStringLiteral("Left")},
        {0xff52, QStringLiteral("Up")},         {0xff53, QStringLiteral("Right")},
        {0xff54, QStringLiteral("Down")},       {0xff8d, QStringLiteral("Keypad Enter")},
        {0xff61, QStringLiteral("Print")},      {0xff13, QStringLiteral("Pause")},
        {0xff14, QStringLiteral("Scroll Lock")}, {0xff67, QStringLiteral("Menu")},
        {0xffe5, QStringLiteral("Caps Lock")},  {0xff7f, QStringLiteral("Num Lock")},
        // The sides as Japanese keyboards and manuals name them.
        {0xffe1, QStringLiteral("左Shift")}, {0xffe2, QStringLiteral("右Shift")},
        {0xffe3, QStringLiteral("左Ctrl")},  {0xffe4, QStringLiteral("右Ctrl")},
        {0xffe9, QStringLiteral("左Alt")},   {0xffea, QStringLiteral("右Alt")},
        {0xffeb, QStringLiteral("左Super")}, {0xffec, QStringLiteral("右Super")},
        {0xff22, QStringLiteral("無変換")},     {0xff23, QStringLiteral("変換")},
        {0xff27, QStringLiteral("ひらがな")},   {0xff2a, QStringLiteral("半角/全角")},
    };
    return names;
}

// The key codes of the records earlier versions stored, as keysyms (ANSI key positions).
std::optional<quint32> keysymOfLegacyCode(quint16 code)
{
    static const std::map<quint16, quint32> table = [] {
        std::map<quint16, quint32> t;
        const char* keys = "asdfhgzxcv\0bqweryt123465=97-80]ou[ip\0lj'k;\\,/nm.\0 `";
        for (quint16 i = 0; i <= 50; ++i)
            if (keys[i] != '\0')
                t[i] = static_cast<quint32>(keys[i]);
        const std::pair<quint16, quint32> named[] = {
            {36, 0xff0d}, {48, 0xff09}, {51, 0xff08}, {53, 0xff1b}, {54, 0xffec}, {55, 0xffeb}, {56, 0xffe1},
            {57, 0xffe5}, {58, 0xffe9}, {59, 0xffe3}, {60, 0xffe2}, {61, 0xffea}, {62, 0xffe4}, {65, 0xffae},
            {67, 0xffaa}, {69, 0xffab}, {71, 0xff7f}, {75, 0xffaf}, {76, 0xff8d}, {78, 0xffad}, {81, 0xffbd},
            {82, 0xffb0}, {83, 0xffb1}, {84, 0xffb2}, {85, 0xffb3}, {86, 0xffb4}, {87, 0xffb5}, {88, 0xffb6},
            {89, 0xffb7}, {91, 0xffb8}, {92, 0xffb9}, {102, 0xff22}, {104, 0xff23}, {96, 0xffc2}, {97, 0xffc3},
            {98, 0xffc4}, {99, 0xffc0}, {100, 0xffc5}, {101, 0xffc6}, {103, 0xffc8}, {109, 0xffc7}, {111, 0xffc9},
            {105, 0xffca}, {107, 0xffcb}, {113, 0xffcc}, {106, 0xffcd}, {64, 0xffce}, {79, 0xffcf}, {80, 0xffd0},
            {90, 0xffd1}, {114, 0xff63}, {115, 0xff50}, {116, 0xff55}, {117, 0xffff}, {118, 0xffc1}, {119, 0xff57},
            {120, 0xffbf}, {121, 0xff56}, {122, 0xffbe}, {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52},
        };
        for (const auto& [code, sym] : named)
            t[code] = sym;
        return t;
    }();
    const auto it = table.find(code);
    return it == table.end() ? std::nullopt : std::optional<quint32>(it->second);
}

quint8 modifiersOfLegacyBits(quint64 bits)
{
    quint8 m = 0;
    if (bits & 0x20000) m |= ShortcutKey::Shift;
    if (bits & 0x40000) m |= ShortcutKey::Ctrl;
    if (bits & 0x80000) m |= ShortcutKey::Alt;
    if (bits & 0x100000) m |= ShortcutKey::Super;
    return m;
}

} // namespace

quint8 ShortcutKey::modifierOf(quint32 keysym)
{
    switch (keysym) {
    case 0xffe1: case 0xffe2: return Shift;
    case 0xffe3: case 0xffe4: return Ctrl;
    case 0xffe9: case 0xffea: return Alt;
    case 0xffeb: case 0xffec: return Super;
    default: return 0;
    }
}

QString ShortcutKey::keyName() const
{
    const auto& names = namedKeys();
    if (const auto it = names.find(keysym); it != names.end())
        return it->second;
    if (keysym > 0x20 && keysym < 0x7f)
        return QString(QChar(keysym)).toUpper();
    if (keysym >= 0xffbe && keysym <= 0xffe0)
        return QStringLiteral("F%1").arg(keysym - 0xffbe + 1);
    if (keysym >= 0xffb0 && keysym <= 0xffb9)
        return QStringLiteral("Keypad %1").arg(keysym - 0xffb0);
    return QStringLiteral("Key 0x%1").arg(keysym, 0, 16);
}

QString ShortcutKey::label() const
{
    if (isLoneModifier())
        return keyName();
    QStringList parts;
    if (modifiers & Ctrl) parts << QStringLiteral("Ctrl");
    if (modifiers & Alt) parts << QStringLiteral("Alt");
    if (modifiers & Shift) parts << QStringLiteral("Shift");
    if (modifiers & Super) parts << QStringLiteral("Super");
    parts << keyName();
    return parts.join(QLatin1Char('+'));
}

bool ShortcutKey::matches(quint32 eventKeysym, quint8 eventModifiers) const
{
    if (isLoneModifier())
        return eventKeysym == keysym;
    return eventKeysym == keysym && (eventModifiers & AllModifiers) == modifiers;
}

QByteArray ShortcutKey::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("keysym"), static_cast<qint64>(keysym));
    o.insert(QStringLiteral("modifiers"), static_cast<qint64>(modifiers));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<ShortcutKey> ShortcutKey::fromJson(const QByteArray& json, bool* legacy)
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
    if (legacy)
        *legacy = false;
    if (o.contains(QLatin1String("keysym"))) {
        const auto sym = unsignedField("keysym", 0x1fffffff);
        const auto mods = unsignedField("modifiers", AllModifiers);
        if (!sym || *sym == 0 || !mods)
            return std::nullopt;
        const ShortcutKey key{static_cast<quint32>(*sym), static_cast<quint8>(*mods)};
        return key.isLoneModifier() ? ShortcutKey{key.keysym, 0} : key;
    }
    const auto code = unsignedField("keyCode", 65535.0);
    const auto bits = unsignedField("modifiers", 9.2e18);
    if (!code || !bits)
        return std::nullopt;
    const auto sym = keysymOfLegacyCode(static_cast<quint16>(*code));
    if (!sym)
        return std::nullopt; // fn, and codes no PC keyboard has
    if (legacy)
        *legacy = true;
    const ShortcutKey key{*sym, modifiersOfLegacyBits(*bits)};
    return key.isLoneModifier() ? ShortcutKey{*sym, 0} : key;
}

} // namespace vel
