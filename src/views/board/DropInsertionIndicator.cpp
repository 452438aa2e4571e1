#include "DropInsertionIndicator.h"

#include "board/BoardStyle.h"

#include <QPainter>

namespace DropInsertionIndicator {

void paint(QPainter &painter, int width, qreal lineY, ThoughtStatus status, qreal appearance)
{
    constexpr qreal sidePadding = 4;
    constexpr qreal dotSize = 8;
    constexpr qreal spacing = 8;
    constexpr qreal lineHeight = 3;
    if (appearance <= 0)
        return;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * appearance);
    const qreal scale = 0.98 + 0.02 * appearance;
    const QPointF centre(width / 2.0, lineY);
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);

    const QColor accent = accentColor(status);
    const qreal left = sidePadding;
    const qreal right = width - sidePadding;
    painter.setPen(Qt::NoPen);
    painter.setBrush(accent);
    painter.drawEllipse(QRectF(left, lineY - dotSize / 2, dotSize, dotSize));

    const QRectF line(left + dotSize + spacing, lineY - lineHeight / 2,
                      qMax<qreal>(0, right - left - dotSize - spacing), lineHeight);
    // A soft shadow one point down: a few widening washes stand in for a blur of radius 5.
    for (int step = 1; step <= 5; ++step) {
        const qreal grow = step;
        painter.setBrush(accentColor(status, 0.35 / 5));
        painter.drawRoundedRect(
            line.translated(0, 1).adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2),
            (lineHeight + grow) / 2, (lineHeight + grow) / 2);
    }
    painter.setBrush(accent);
    painter.drawRoundedRect(line, lineHeight / 2, lineHeight / 2);
    painter.restore();
}

} // namespace DropInsertionIndicator
