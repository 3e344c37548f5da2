#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vel::Icons {

// The program's own drawn symbols ("mic", "gear", "3.circle.fill", …), tinted with a colour,
// so they look the same on every desktop and theme.
QIcon icon(const QString& name, const QColor& color);
QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0);
bool exists(const QString& name);

} // namespace vel::Icons
