#include "PanelShadow.h"

#include <QPainter>
#include <QPainterPath>

#include <vector>

namespace PanelShadow {

namespace {

constexpr int shadowRadius = 26;
constexpr int shadowOffset = 18;

/// Three box blurs of the alpha channel approximate a Gaussian of about \a radius / 2.
void blurAlpha(QImage &image, int radius)
{
    const int box = qMax(1, radius / 3);
    const int width = image.width();
    const int height = image.height();
    const qsizetype stride = image.bytesPerLine();
    uchar *bits = image.bits();
    std::vector<int> line(size_t(qMax(width, height)));
    auto blurLine = [&](uchar *first, qsizetype step, int length) {
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = first[i * step];
        int sum = 0;
        for (int i = -box; i <= box; ++i)
            sum += line[size_t(qBound(0, i, length - 1))];
        for (int i = 0; i < length; ++i) {
            first[i * step] = uchar(sum / (2 * box + 1));
            sum += line[size_t(qMin(i + box + 1, length - 1))];
            sum -= line[size_t(qMax(i - box, 0))];
        }
    };
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y)
            blurLine(bits + y * stride, 1, width);
        for (int x = 0; x < width; ++x)
            blurLine(bits + x, stride, height);
    }
}

QImage shadowImage(const QSize &panelSize, qreal cornerRadius)
{
    const int margin = shadowRadius * 2;
    QImage alpha(panelSize + QSize(2 * margin, 2 * margin), QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter painter(&alpha);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(QPointF(margin, margin), QSizeF(panelSize)), cornerRadius,
                             cornerRadius);
        painter.fillPath(shape, QColor::fromRgbF(0, 0, 0, 0.16f));
    }
    blurAlpha(alpha, shadowRadius);
    return alpha;
}

} // namespace

void paint(QPainter &painter, const QRectF &panelRect, qreal cornerRadius, qreal opacity)
{
    // A panel drawn scaled during its transition gets the same shadow scaled with it.
    static QSize cachedSize;
    static qreal cachedRadius = -1;
    static QImage cachedShadow;
    const QSize panelSize = panelRect.size().toSize();
    const int margin = shadowRadius * 2;
    if (cachedSize != panelSize || cachedRadius != cornerRadius) {
        const QImage alpha = shadowImage(panelSize, cornerRadius);
        QImage shadow(alpha.size(), QImage::Format_ARGB32_Premultiplied);
        shadow.fill(Qt::black);
        QPainter mask(&shadow);
        mask.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        mask.drawImage(0, 0, alpha);
        mask.end();
        cachedSize = panelSize;
        cachedRadius = cornerRadius;
        cachedShadow = shadow;
    }
    painter.save();
    painter.setOpacity(painter.opacity() * opacity);
    painter.drawImage(QRectF(panelRect.topLeft() + QPointF(-margin, -margin + shadowOffset),
                             QSizeF(cachedShadow.size())),
                      cachedShadow);
    painter.restore();
}

} // namespace PanelShadow
