#pragma once

#include <QString>

namespace vel {

// The XDG autostart entry that starts the program (in the tray only) at login.
namespace Autostart {

// $XDG_CONFIG_HOME/autostart/velutanora.desktop
QString entryPath();
// Writes or removes the entry; returns an empty string on success, else the reason.
QString apply(bool enabled, const QString& executable);
QString entryText(const QString& executable);

} // namespace Autostart

} // namespace vel
