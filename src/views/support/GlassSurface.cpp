#include "GlassSurface.h"

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
    return isDarkAppearance(palette) ? QColor::fromRgbF(0.12f, 0.12f, 0.14f, 0.42f)
                                     : QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.46f);
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
    painter.fillPath(surface, ultraThinMaterial(palette));
    // The border lies inside the shape: inset by half its width.
    const QRectF borderRect = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.18f), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(borderRect, qMax(0.0, cornerRadius - 0.5),
                            qMax(0.0, cornerRadius - 0.5));
    painter.restore();
}
