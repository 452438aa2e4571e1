#include "GlassSurface.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

bool isDarkAppearance(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() <
           palette.color(QPalette::WindowText).lightnessF();
}

QColor ultraThinMaterial(const QPalette &palette)
{
    // Without a live blur the material is a thin wash over the ambient background: light in the
    // light appearance, dark in the dark one.
    return isDarkAppearance(palette) ? QColor::fromRgbF(0.24f, 0.24f, 0.28f, 0.38f)
                                     : QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.46f);
}

void paintClipped(QPainter &painter, const QRectF &area, const std::function<void()> &paint)
{
    // Above this, the fill is large enough to gain from the threads.
    constexpr qreal maximumHeight = 200;
    const QPaintEngine *engine = painter.paintEngine();
    if (area.height() > maximumHeight || !engine || engine->type() != QPaintEngine::Raster ||
        painter.transform().type() > QTransform::TxTranslate) {
        paint();
        return;
    }
    painter.save();
    // Whole pixels around the area, antialiased edges included.
    painter.setClipRect(area.toAlignedRect().adjusted(-1, -1, 1, 1), Qt::IntersectClip);
    paint();
    painter.restore();
}

void paintRoundedShape(QPainter &painter, const QRectF &rect, qreal cornerRadius,
                       const QBrush &fill, const QColor &border)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, cornerRadius, cornerRadius);
    // The border lies inside the shape: inset by half its width.
    const QRectF borderRect = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal borderRadius = qMax(0.0, cornerRadius - 0.5);
    auto paintShape = [&] {
        if (fill.style() != Qt::NoBrush)
            painter.fillPath(shape, fill);
        painter.setPen(QPen(border, 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(borderRect, borderRadius, borderRadius);
    };
    // Rows this far from the top and the bottom hold the corners; between them the shape is a
    // plain rectangle with its border in the first and last columns of pixels.
    const int band = int(std::ceil(cornerRadius)) + 1;
    const QTransform &transform = painter.transform();
    const QPaintEngine *engine = painter.paintEngine();
    const bool wholePixels = rect == QRectF(rect.toRect()) &&
                             transform.type() <= QTransform::TxTranslate &&
                             transform.dx() == std::round(transform.dx()) &&
                             transform.dy() == std::round(transform.dy());
    if (!wholePixels || !engine || engine->type() != QPaintEngine::Raster ||
        rect.height() <= 2 * band || rect.width() < 2) {
        paintClipped(painter, rect, paintShape);
        painter.restore();
        return;
    }
    for (const QRectF &corners : {QRectF(rect.left(), rect.top(), rect.width(), band),
                                  QRectF(rect.left(), rect.bottom() - band, rect.width(), band)}) {
        painter.save();
        painter.setClipRect(corners, Qt::IntersectClip);
        paintShape();
        painter.restore();
    }
    const QRectF middle(rect.left(), rect.top() + band, rect.width(), rect.height() - 2 * band);
    if (fill.style() != Qt::NoBrush)
        painter.fillRect(middle, fill);
    painter.fillRect(QRectF(middle.left(), middle.top(), 1, middle.height()), border);
    painter.fillRect(QRectF(middle.right() - 1, middle.top(), 1, middle.height()), border);
    painter.restore();
}

void paintAppGlass(QPainter &painter, const QRectF &rect, qreal cornerRadius,
                   const std::optional<QColor> &tint, GlassInteraction interaction,
                   const QPalette &palette)
{
    Q_UNUSED(tint);
    Q_UNUSED(interaction);
    paintRoundedShape(painter, rect, cornerRadius, ultraThinMaterial(palette),
                      isDarkAppearance(palette) ? QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.12f)
                                                : QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.18f));
}
