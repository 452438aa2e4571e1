#include "SymbolIcon.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// The icons live in a static library, whose resources the linker keeps only when registered by
// hand; this must stay outside any namespace.
static void registerSymbolResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

QString symbolPath(const QString &systemImage)
{
    registerSymbolResources();
    return QStringLiteral(":/symbols/%1.svg").arg(systemImage);
}

} // namespace

bool hasSymbol(const QString &systemImage)
{
    return QFile::exists(symbolPath(systemImage));
}

QPixmap symbolPixmap(const QString &systemImage, const QColor &color, int size,
                     qreal devicePixelRatio)
{
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(symbolPath(systemImage));
    if (renderer.isValid()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        // The icons draw in one colour; paint the tint through their shape.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon symbolIcon(const QString &systemImage, const QColor &color, int size)
{
    QIcon icon;
    icon.addPixmap(symbolPixmap(systemImage, color, size), QIcon::Normal);
    QColor disabled = color;
    disabled.setAlphaF(color.alphaF() * 0.35f);
    icon.addPixmap(symbolPixmap(systemImage, disabled, size), QIcon::Disabled);
    return icon;
}
