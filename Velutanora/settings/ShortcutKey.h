#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

namespace vel {

// A global shortcut: a platform-neutral virtual key code plus modifier bits. The key codes
// and bits are those of the program's own key model (the X11 backend translates into them):
// 49 is Space, 53 Esc; Shift 0x20000, Control 0x40000, Option (Alt) 0x80000, Command (Super)
// 0x100000. A shortcut on one of the nine modifier keys is a lone-modifier shortcut.
struct ShortcutKey {
    static constexpr quint64 Shift = 0x20000;
    static constexpr quint64 Control = 0x40000;
    static constexpr quint64 Option = 0x80000;
    static constexpr quint64 Command = 0x100000;
    static constexpr quint64 RelevantModifiers = 0x1E0000;

    quint16 keyCode = 0;
    quint64 modifiers = 0;

    friend bool operator==(const ShortcutKey&, const ShortcutKey&) = default;

    static ShortcutKey defaultStart() { return {49, Option}; }
    static ShortcutKey defaultCancel() { return {53, 0}; }

    // Key code to name of the nine modifier keys.
    static const std::map<quint16, QString>& modifierKeyCodes();
    static bool isModifierKeyCode(quint16 code);
    // The modifier bit a modifier key sets (0 for fn and for other keys).
    static quint64 modifierBitForKeyCode(quint16 code);

    bool isLoneModifier() const { return isModifierKeyCode(keyCode); }
    QString keyName() const;
    // What the user reads: the names printed on PC keyboards ("Alt+Space", "Right Super").
    QString label() const;
    // The matching rule of the shortcut detector.
    bool matches(quint16 eventKeyCode, quint64 eventFlags) const;

    // JSON object {"keyCode": n, "modifiers": n}.
    QByteArray toJson() const;
    static std::optional<ShortcutKey> fromJson(const QByteArray& json);
};

} // namespace vel
