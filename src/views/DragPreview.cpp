#include "DragPreview.h"

#include "board/BoardStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <cmath>

namespace DragPreviewCard {

QPixmap render(const Thought &thought, const QPalette &palette, qreal devicePixelRatio)
{
    constexpr qreal horizontalPadding = 12;
    constexpr qreal verticalPadding = 10;
    constexpr qreal dotSize = 8;
    constexpr qreal spacing = 10;
    constexpr qreal maxTitleWidth = 220;
    constexpr qreal cornerRadius = 14;

    const QFont font = boardFont(14, QFont::DemiBold);
    const WrappedText title = wrapText(thought.title, font, maxTitleWidth, 2);
    const qreal contentHeight = qMax(dotSize, title.height());
    const QSizeF size(horizontalPadding + dotSize + spacing + title.widestLine + horizontalPadding,
                      verticalPadding + contentHeight + verticalPadding);

    QPixmap pixmap(int(std::ceil(size.width() * devicePixelRatio)),
                   int(std::ceil(size.height() * devicePixelRatio)));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card(QPointF(0, 0), size);
    QPainterPath shape;
    shape.addRoundedRect(card, cornerRadius, cornerRadius);
    painter.fillPath(shape, regularMaterial(palette));
    painter.setPen(QPen(accentColor(thought.status, 0.38), 1.0));
    painter.drawRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5,
                            cornerRadius - 0.5);

    painter.setPen(Qt::NoPen);
    painter.setBrush(accentColor(thought.status));
    painter.drawEllipse(QRectF(horizontalPadding, (size.height() - dotSize) / 2, dotSize, dotSize));
    painter.setPen(palette.color(QPalette::WindowText));
    drawWrappedText(
        painter,
        QPointF(horizontalPadding + dotSize + spacing, (size.height() - title.height()) / 2), title,
        font);
    return pixmap;
}

} // namespace DragPreviewCard
