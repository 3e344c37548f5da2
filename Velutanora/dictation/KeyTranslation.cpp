#include "dictation/KeyTranslation.h"

#include "settings/ShortcutKey.h"

#include <map>

namespace vel::KeyTranslation {

namespace {

constexpr quint32 kAltR = 0xffea;
constexpr quint32 kIsoLevel3Shift = 0xfe03;

// Each modifier in the terms of X core masks and Qt, with its left key; in the order a chord presses them.
struct Modifier {
    quint8 ours;
    unsigned x;
    Qt::KeyboardModifier qt;
    quint32 leftKey;
};
constexpr Modifier kModifiers[] = {
    {ShortcutKey::Ctrl, 4u, Qt::ControlModifier, 0xffe3},
    {ShortcutKey::Shift, 1u, Qt::ShiftModifier, 0xffe1},
    {ShortcutKey::Alt, 8u, Qt::AltModifier, 0xffe9},
    {ShortcutKey::Super, 64u, Qt::MetaModifier, 0xffeb},
};

} // namespace

quint32 normalizedKeysym(quint32 keysym)
{
    if (keysym >= 'A' && keysym <= 'Z')
        return keysym + ('a' - 'A');
    if (keysym == kIsoLevel3Shift)
        return kAltR;
    return keysym;
}

QList<quint32> layoutKeysyms(quint32 keysym)
{
    if (keysym == kAltR)
        return {kAltR, kIsoLevel3Shift};
    return {keysym};
}

quint8 modifiersForXState(unsigned state)
{
    quint8 m = 0;
    for (const Modifier& each : kModifiers)
        if (state & each.x)
            m |= each.ours;
    return m;
}

unsigned xStateForModifiers(quint8 modifiers)
{
    unsigned state = 0;
    for (const Modifier& each : kModifiers)
        if (modifiers & each.ours)
            state |= each.x;
    return state;
}

QList<quint32> keysymsForChord(quint32 keysym, quint8 modifiers)
{
    QList<quint32> keys;
    for (const Modifier& each : kModifiers)
        if (modifiers & each.ours)
            keys << each.leftKey;
    keys << keysym;
    return keys;
}

bool isModifierKeysym(quint32 keysym)
{
    // Shift, Control, Meta, Alt, Super, Hyper and AltGr; never the locks, which would toggle.
    return (keysym >= 0xffe1 && keysym <= 0xffee && keysym != 0xffe5 && keysym != 0xffe6) || keysym == kIsoLevel3Shift;
}

std::optional<quint32> keysymForQtKey(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<quint32>('a' + (key - Qt::Key_A));
    if (key > Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return static_cast<quint32>(key); // digits and punctuation are their Latin-1 keysyms
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return static_cast<quint32>(0xffbe + (key - Qt::Key_F1));
    static const std::map<int, quint32> named = {
        {Qt::Key_Space, 0x20},       {Qt::Key_Escape, 0xff1b},   {Qt::Key_Return, 0xff0d},
        {Qt::Key_Enter, 0xff8d},     {Qt::Key_Tab, 0xff09},      {Qt::Key_Backspace, 0xff08},
        {Qt::Key_Delete, 0xffff},    {Qt::Key_Insert, 0xff63},   {Qt::Key_Home, 0xff50},
        {Qt::Key_End, 0xff57},       {Qt::Key_PageUp, 0xff55},   {Qt::Key_PageDown, 0xff56},
        {Qt::Key_Left, 0xff51},      {Qt::Key_Up, 0xff52},       {Qt::Key_Right, 0xff53},
        {Qt::Key_Down, 0xff54},      {Qt::Key_Print, 0xff61},    {Qt::Key_Pause, 0xff13},
        {Qt::Key_ScrollLock, 0xff14}, {Qt::Key_Menu, 0xff67},    {Qt::Key_Shift, 0xffe1},
        {Qt::Key_Control, 0xffe3},   {Qt::Key_Alt, 0xffe9},      {Qt::Key_Meta, 0xffeb},
        {Qt::Key_Super_L, 0xffeb},   {Qt::Key_Super_R, 0xffec},  {Qt::Key_AltGr, kAltR},
        {Qt::Key_Muhenkan, 0xff22},  {Qt::Key_Henkan, 0xff23},   {Qt::Key_Hiragana_Katakana, 0xff27},
        {Qt::Key_Zenkaku_Hankaku, 0xff2a},
    };
    const auto it = named.find(key);
    return it == named.end() ? std::nullopt : std::optional<quint32>(it->second);
}

quint8 modifiersForQt(Qt::KeyboardModifiers modifiers)
{
    quint8 m = 0;
    for (const Modifier& each : kModifiers)
        if (modifiers & each.qt)
            m |= each.ours;
    return m;
}

Qt::KeyboardModifiers qtModifiersFor(quint8 modifiers)
{
    Qt::KeyboardModifiers m;
    for (const Modifier& each : kModifiers)
        if (modifiers & each.ours)
            m |= each.qt;
    return m;
}

std::optional<int> qtKeyForKeysym(quint32 keysym)
{
    if (keysym >= 'a' && keysym <= 'z')
        return Qt::Key_A + static_cast<int>(keysym - 'a');
    // Every other key the table knows maps one to one: search it backwards.
    static const std::map<quint32, int> reverse = [] {
        std::map<quint32, int> m;
        for (int key = Qt::Key_Space; key <= Qt::Key_AsciiTilde; ++key)
            if (auto sym = keysymForQtKey(key))
                m.emplace(*sym, key);
        for (int key = Qt::Key_Escape; key <= Qt::Key_Zenkaku_Hankaku; ++key)
            if (auto sym = keysymForQtKey(key))
                m.emplace(*sym, key);
        return m;
    }();
    const auto it = reverse.find(keysym);
    return it == reverse.end() ? std::nullopt : std::optional<int>(it->second);
}

} // namespace vel::KeyTranslation
