#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vel {

// A global shortcut in PC terms: the key as an X keysym (letters in lower case; a modifier key's
// keysym names its side, Control_R being Right Ctrl) and the modifiers held with it. Each
// desktop backend translates to and from its own codes in one place. A shortcut on one of the
// eight modifier keys is a lone-modifier shortcut; its modifiers are ignored.
struct ShortcutKey {
    enum Modifier : quint8 { Shift = 1, Ctrl = 2, Alt = 4, Super = 8 };
    static constexpr quint8 AllModifiers = Shift | Ctrl | Alt | Super;

    quint32 keysym = 0;
    quint8 modifiers = 0;

    friend bool operator==(const ShortcutKey&, const ShortcutKey&) = default;

    static constexpr quint32 kSpace = 0x20;
    static constexpr quint32 kEscape = 0xff1b;
    static ShortcutKey defaultStart() { return {kSpace, Alt}; }
    static ShortcutKey defaultCancel() { return {kEscape, 0}; }

    // The eight modifier keys (Shift, Ctrl, Alt, Super; left and right).
    static bool isModifierKey(quint32 keysym) { return modifierOf(keysym) != 0; }
    // The modifier a modifier key sets (0 for other keys).
    static quint8 modifierOf(quint32 keysym);

    bool isLoneModifier() const { return isModifierKey(keysym); }
    // The name printed on PC keyboards: "Space", "A", "Right Ctrl", "無変換".
    QString keyName() const;
    // What the user reads: "Alt+Space", "Ctrl+Shift+F9", "Right Super".
    QString label() const;
    // The detector's rule: the same key with exactly these modifiers; a lone modifier is its key alone.
    bool matches(quint32 eventKeysym, quint8 eventModifiers) const;

    // JSON object {"keysym": n, "modifiers": n}.
    QByteArray toJson() const;
    // Also reads the records of earlier versions ({"keyCode": n, "modifiers": n} in the key
    // codes and modifier bits of the desktop the program was first written for); `legacy` says
    // that one was read, so that the caller stores it again in today's form.
    static std::optional<ShortcutKey> fromJson(const QByteArray& json, bool* legacy = nullptr);
};

} // namespace vel
