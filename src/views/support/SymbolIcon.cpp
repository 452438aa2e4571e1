#include "SymbolIcon.h"

#include "DeferredIcon.h"

#include <QFile>
#include <QHash>
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

namespace {

// Each drawing is parsed once and kept: views ask for the same few symbols in several colours
// and sizes, and again whenever the palette changes. Never destroyed, so that none outlives the
// application at exit.
QSvgRenderer *symbolRenderer(const QString &systemImage)
{
    static auto &renderers = *new QHash<QString, QSvgRenderer *>;
    QSvgRenderer *&renderer = renderers[systemImage];
    if (!renderer)
        renderer = new QSvgRenderer(symbolPath(systemImage));
    return renderer;
}

QImage renderSymbol(const QString &systemImage, const QColor &color, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer *renderer = symbolRenderer(systemImage);
    if (renderer->isValid()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer->render(&painter);
        // The icons draw in one colour; paint the tint through their shape.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    return image;
}

} // namespace

QPixmap symbolPixmap(const QString &systemImage, const QColor &color, int size,
                     qreal devicePixelRatio)
{
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    // Drawn symbols are kept by name, colour, size and pixel ratio; the few a window shows take
    // a few kilobytes each, and a cache that somehow grows past its working set starts over.
    static auto &drawn = *new QHash<QString, QPixmap>;
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(systemImage)
                            .arg(color.rgba(), 8, 16)
                            .arg(pixels)
                            .arg(devicePixelRatio);
    auto it = drawn.constFind(key);
    if (it == drawn.constEnd()) {
        if (drawn.size() >= 256)
            drawn.clear();
        QPixmap pixmap = QPixmap::fromImage(renderSymbol(systemImage, color, pixels));
        pixmap.setDevicePixelRatio(devicePixelRatio);
        it = drawn.insert(key, pixmap);
    }
    return *it;
}

QIcon symbolIcon(const QString &systemImage, const QColor &color, int size)
{
    // Drawn when first shown: several of these sit on buttons that are hidden at launch.
    return deferredIcon([systemImage, color, size] {
        QIcon icon;
        icon.addPixmap(symbolPixmap(systemImage, color, size), QIcon::Normal);
        QColor disabled = color;
        disabled.setAlphaF(color.alphaF() * 0.35f);
        icon.addPixmap(symbolPixmap(systemImage, disabled, size), QIcon::Disabled);
        return icon;
    });
}
