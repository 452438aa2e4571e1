#include "GlassSurface.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

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

void paintAppGlass(QPainter &painter, const QRectF &rect, qreal cornerRadius,
                   const std::optional<QColor> &tint, GlassInteraction interaction,
                   const QPalette &palette)
{
    Q_UNUSED(tint);
    Q_UNUSED(interaction);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath surface;
    surface.addRoundedRect(rect, cornerRadius, cornerRadius);
    // The border lies inside the shape: inset by half its width.
    const QRectF borderRect = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    paintClipped(painter, rect, [&] {
        painter.fillPath(surface, ultraThinMaterial(palette));
        painter.setPen(QPen(isDarkAppearance(palette) ? QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.12f)
                                                      : QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.18f),
                            1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(borderRect, qMax(0.0, cornerRadius - 0.5),
                                qMax(0.0, cornerRadius - 0.5));
    });
    painter.restore();
}
