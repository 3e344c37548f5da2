#include "ui/Icons.h"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

// Resources of a static library are registered by hand before their first use.
static void initIconResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    Q_UNUSED(done);
}

namespace vel::Icons {

namespace {

QByteArray tinted(const QString& name, const QColor& color)
{
    initIconResources();
    QFile file(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();
    svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    return svg;
}

} // namespace

bool exists(const QString& name)
{
    initIconResources();
    return QFile::exists(QStringLiteral(":/icons/%1.svg").arg(name));
}

QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio)
{
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap out(pixels, pixels);
    out.fill(Qt::transparent);
    QSvgRenderer renderer(tinted(name, color));
    QPainter painter(&out);
    painter.setOpacity(color.alphaF());
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    out.setDevicePixelRatio(devicePixelRatio);
    return out;
}

QIcon icon(const QString& name, const QColor& color)
{
    QIcon out;
    for (int size : {16, 22, 24, 32, 48, 64})
        out.addPixmap(pixmap(name, color, size));
    return out;
}

} // namespace vel::Icons
