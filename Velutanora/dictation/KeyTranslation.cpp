#include "dictation/KeyTranslation.h"

#include "settings/ShortcutKey.h"

#include <QtCore/qnamespace.h>

#include <map>

namespace vel::KeyTranslation {

namespace {

// keysym → virtual key code (the ANSI key positions the virtual codes name).
const std::map<quint32, quint16>& table()
{
    static const std::map<quint32, quint16> m = [] {
        std::map<quint32, quint16> t;
        const char* letters = "asdfhgzxcv";
        for (int i = 0; i < 10; ++i)
            t[static_cast<quint32>(letters[i])] = static_cast<quint16>(i);
        const std::pair<char, quint16> more[] = {{'b', 11}, {'q', 12}, {'w', 13}, {'e', 14}, {'r', 15}, {'y', 16},
                                                 {'t', 17}, {'o', 31}, {'u', 32}, {'i', 34}, {'p', 35}, {'l', 37},
                                                 {'j', 38}, {'k', 40}, {'n', 45}, {'m', 46}};
        for (const auto& [c, code] : more)
            t[static_cast<quint32>(c)] = code;
        const std::pair<char, quint16> digits[] = {{'1', 18}, {'2', 19}, {'3', 20}, {'4', 21}, {'6', 22},
                                                   {'5', 23}, {'9', 25}, {'7', 26}, {'8', 28}, {'0', 29}};
        for (const auto& [c, code] : digits)
            t[static_cast<quint32>(c)] = code;
        const std::pair<char, quint16> punctuation[] = {{'=', 24}, {'-', 27}, {']', 30}, {'[', 33}, {'\'', 39},
                                                        {';', 41}, {'\\', 42}, {',', 43}, {'/', 44}, {'.', 47},
                                                        {'`', 50}, {' ', 49}};
        for (const auto& [c, code] : punctuation)
            t[static_cast<quint32>(c)] = code;
        const std::pair<quint32, quint16> named[] = {
            {0xff0d, 36},  // Return
            {0xff09, 48},  // Tab
            {0xff08, 51},  // BackSpace: the key the virtual code calls "Delete"
            {0xff1b, 53},  // Escape
            {0xffec, 54},  // Super_R
            {0xffeb, 55},  // Super_L
            {0xffe1, 56},  // Shift_L
            {0xffe5, 57},  // Caps_Lock
            {0xffe9, 58},  // Alt_L
            {0xffe3, 59},  // Control_L
            {0xffe2, 60},  // Shift_R
            {0xffea, 61},  // Alt_R
            {0xfe03, 61},  // ISO_Level3_Shift (AltGr, the right Alt of many layouts)
            {0xffe4, 62},  // Control_R
            {0xffae, 65},  // KP_Decimal
            {0xffaa, 67},  // KP_Multiply
            {0xffab, 69},  // KP_Add
            {0xff7f, 71},  // Num_Lock, where the keypad's Clear sits
            {0xffaf, 75},  // KP_Divide
            {0xff8d, 76},  // KP_Enter
            {0xffad, 78},  // KP_Subtract
            {0xffbd, 81},  // KP_Equal
            {0xffb0, 82}, {0xffb1, 83}, {0xffb2, 84}, {0xffb3, 85}, {0xffb4, 86},
            {0xffb5, 87}, {0xffb6, 88}, {0xffb7, 89}, {0xffb8, 91}, {0xffb9, 92},  // KP_0 … KP_9
            {0xff22, 102}, // Muhenkan (無変換), where 英数 sits
            {0xff23, 104}, // Henkan (変換), where かな sits
            {0xffc2, 96}, {0xffc3, 97}, {0xffc4, 98}, {0xffc0, 99}, {0xffc5, 100}, {0xffc6, 101},  // F5 F6 F7 F3 F8 F9
            {0xffc8, 103}, {0xffc7, 109}, {0xffc9, 111},  // F11 F10 F12
            {0xffca, 105}, {0xffcb, 107}, {0xffcc, 113}, {0xffcd, 106},  // F13 F14 F15 F16
            {0xffce, 64}, {0xffcf, 79}, {0xffd0, 80}, {0xffd1, 90},  // F17 F18 F19 F20
            {0xff63, 114}, // Insert, where Help sits
            {0xff50, 115}, // Home
            {0xff55, 116}, // Prior (Page Up)
            {0xffff, 117}, // Delete (forward)
            {0xffc1, 118}, // F4
            {0xff57, 119}, // End
            {0xffbf, 120}, // F2
            {0xff56, 121}, // Next (Page Down)
            {0xffbe, 122}, // F1
            {0xff51, 123}, {0xff53, 124}, {0xff54, 125}, {0xff52, 126},  // Left Right Down Up
        };
        for (const auto& [sym, code] : named)
            t[sym] = code;
        return t;
    }();
    return m;
}

} // namespace

std::optional<quint16> virtualKeyForKeysym(quint32 keysym)
{
    if (keysym >= 'A' && keysym <= 'Z')
        keysym += 'a' - 'A';
    auto it = table().find(keysym);
    if (it == table().end())
        return std::nullopt;
    return it->second;
}

QList<quint32> keysymsForVirtualKey(quint16 virtualKey)
{
    QList<quint32> out;
    for (const auto& [sym, code] : table()) {
        if (code == virtualKey)
            out.append(sym);
    }
    // AltGr is a second choice for the right Alt.
    if (virtualKey == 61)
        out = {0xffea, 0xfe03};
    return out;
}

quint64 modifierBitsForXState(unsigned state)
{
    quint64 bits = 0;
    if (state & 1u) bits |= ShortcutKey::Shift;
    if (state & 4u) bits |= ShortcutKey::Control;
    if (state & 8u) bits |= ShortcutKey::Option;
    if (state & 64u) bits |= ShortcutKey::Command;
    return bits;
}

unsigned xStateForModifierBits(quint64 bits)
{
    unsigned state = 0;
    if (bits & ShortcutKey::Shift) state |= 1u;
    if (bits & ShortcutKey::Control) state |= 4u;
    if (bits & ShortcutKey::Option) state |= 8u;
    if (bits & ShortcutKey::Command) state |= 64u;
    return state;
}

QList<quint32> keysymsForChord(quint16 virtualKey, quint64 modifiers)
{
    const QList<quint32> syms = keysymsForVirtualKey(virtualKey);
    if (syms.isEmpty())
        return {};
    QList<quint32> keys;
    if (modifiers & ShortcutKey::Control) keys << 0xffe3;
    if (modifiers & ShortcutKey::Shift) keys << 0xffe1;
    if (modifiers & ShortcutKey::Option) keys << 0xffe9;
    if (modifiers & ShortcutKey::Command) keys << 0xffeb;
    keys << syms.first();
    return keys;
}

bool isModifierKeysym(quint32 keysym)
{
    // Shift, Control, Meta, Alt, Super, Hyper and AltGr; never the locks, which would toggle.
    return (keysym >= 0xffe1 && keysym <= 0xffee && keysym != 0xffe5 && keysym != 0xffe6) || keysym == 0xfe03;
}

std::optional<quint32> keysymForQtKey(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<quint32>('a' + (key - Qt::Key_A));
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space || key == Qt::Key_Minus || key == Qt::Key_Equal
        || key == Qt::Key_BracketLeft || key == Qt::Key_BracketRight || key == Qt::Key_Semicolon
        || key == Qt::Key_Apostrophe || key == Qt::Key_Comma || key == Qt::Key_Period || key == Qt::Key_Slash
        || key == Qt::Key_Backslash || key == Qt::Key_QuoteLeft)
        return static_cast<quint32>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20)
        return static_cast<quint32>(0xffbe + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Escape: return 0xff1b;
    case Qt::Key_Return: return 0xff0d;
    case Qt::Key_Enter: return 0xff8d;
    case Qt::Key_Tab: return 0xff09;
    case Qt::Key_Backspace: return 0xff08;
    case Qt::Key_Delete: return 0xffff;
    case Qt::Key_Insert: return 0xff63;
    case Qt::Key_Home: return 0xff50;
    case Qt::Key_End: return 0xff57;
    case Qt::Key_PageUp: return 0xff55;
    case Qt::Key_PageDown: return 0xff56;
    case Qt::Key_Left: return 0xff51;
    case Qt::Key_Up: return 0xff52;
    case Qt::Key_Right: return 0xff53;
    case Qt::Key_Down: return 0xff54;
    case Qt::Key_Shift: return 0xffe1;
    case Qt::Key_Control: return 0xffe3;
    case Qt::Key_Alt: return 0xffe9;
    case Qt::Key_Meta:
    case Qt::Key_Super_L: return 0xffeb;
    case Qt::Key_Super_R: return 0xffec;
    case Qt::Key_AltGr: return 0xfe03;
    case Qt::Key_Muhenkan: return 0xff22;
    case Qt::Key_Henkan: return 0xff23;
    default: return std::nullopt;
    }
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
        for (int key = Qt::Key_Escape; key <= Qt::Key_Henkan; ++key)
            if (auto sym = keysymForQtKey(key))
                m.emplace(*sym, key);
        return m;
    }();
    auto it = reverse.find(keysym);
    if (it == reverse.end())
        return std::nullopt;
    return it->second;
}

} // namespace vel::KeyTranslation
