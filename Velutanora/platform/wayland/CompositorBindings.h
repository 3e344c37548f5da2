#pragma once

#include "settings/ShortcutKey.h"

#include <QList>
#include <optional>
#include <QProcessEnvironment>
#include <QStringList>
#include <QString>

namespace vel {

// Wayland gives a program no global key grab of its own on wlroots compositors: the user binds
// the shortcuts in the compositor to the program's commands. These are the lines to add there,
// built from the stored shortcuts.
namespace CompositorBindings {

enum class Compositor { Sway, Hyprland, River, Gnome, Other };

Compositor detect(const QProcessEnvironment& environment);
QString name(Compositor compositor);
// The configuration lines that run `program --toggle` and `program --cancel`. A lone modifier
// fires on its release. Where the compositor's binding takes the key from every application
// (sway, river), a cancel on plain Escape is left commented out with the reason, since Escape
// must reach the applications while no dictation runs.
QString lines(Compositor compositor, const ShortcutKey& start, const ShortcutKey& cancel, const QString& program);

// A GNOME accelerator ("<Alt>space"); empty for a lone modifier, and for a key without a
// modifier unless it may be taken (a grab held only while it is needed).
QString gnomeAccelerator(const ShortcutKey& key, bool plainKeyAllowed = false);
// GNOME's custom shortcuts, as gsettings argument lists: the program's two entries (a key it
// cannot bind, a lone modifier or a plain Esc, is left out), and the list of custom shortcuts
// with them added to the user's own, which stay.
QList<QStringList> gnomeCommands(const QStringList& existingPaths, const ShortcutKey& start, const ShortcutKey& cancel,
                                 const QString& program);
// The paths of a gsettings "as" value as `gsettings get` prints it ("['/a/', '/b/']", "@as []").
QStringList parseGsettingsList(const QString& printed);
// GNOME's own key bindings as `gsettings list-recursively SCHEMA` prints them ("schema key
// ['<Alt>space']"), one per line; the user's custom shortcuts as "custom NAME ['binding']".
// Returns the action that already holds the accelerator ("activate-window-menu"), empty when none.
QString gnomeHolder(const QString& accelerator, const QStringList& listing);
// The first of a few chords GNOME does not use by default that nothing in the listing holds,
// other than `taken` (the program's other shortcut).
std::optional<ShortcutKey> freeGnomeChord(const QStringList& listing, const ShortcutKey& taken = {});
// Reads the user's list, checks GNOME's own bindings, then runs gnomeCommands; empty on success,
// else what failed or which GNOME action holds a key, with a free one to use instead.
QString installInGnome(const ShortcutKey& start, const ShortcutKey& cancel, const QString& program);

} // namespace CompositorBindings

} // namespace vel
