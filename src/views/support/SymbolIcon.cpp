#include "SymbolIcon.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>
#include <QtMath>

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

namespace {

/// Renders the symbol when it is painted, at the pixel size asked for: a button on a screen
/// scaled by 2 (or 1.5) gets a drawing made for it, never a 1x bitmap blown up.
class SymbolIconEngine : public QIconEngine
{
public:
    SymbolIconEngine(QString systemImage, QColor color, int size)
        : m_systemImage(std::move(systemImage)), m_color(std::move(color)), m_size(size)
    {}

    // Like a bitmap icon of its size: drawn smaller when asked, never larger.
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return size.boundedTo(QSize(m_size, m_size));
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, ratio));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // QIcon asks in device pixels and sets the ratio on what it gets back.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QColor color = m_color;
        if (mode == QIcon::Disabled)
            color.setAlphaF(color.alphaF() * 0.35f);
        const int pixels = qMin(qMin(size.width(), size.height()), qCeil(m_size * scale));
        return symbolPixmap(m_systemImage, color, pixels);
    }
    QIconEngine *clone() const override { return new SymbolIconEngine(*this); }

private:
    QString m_systemImage;
    QColor m_color;
    int m_size;
};

} // namespace

QIcon symbolIcon(const QString &systemImage, const QColor &color, int size)
{
    // Nothing is drawn until a button paints it, so icons of hidden buttons cost no work for the
    // first frame.
    return QIcon(new SymbolIconEngine(systemImage, color, size));
}
