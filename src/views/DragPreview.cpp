#include "DragPreview.h"

#include "board/BoardStyle.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QRegion>
#include <QWindow>

#include <cmath>

namespace DragPreviewCard {

namespace {

constexpr qreal cornerRadius = 14;

QPainterPath cardShape(const QRectF &card)
{
    QPainterPath shape;
    shape.addRoundedRect(card, cornerRadius, cornerRadius);
    return shape;
}

} // namespace

QPixmap render(const Thought &thought, const QPalette &palette, qreal devicePixelRatio)
{
    constexpr qreal horizontalPadding = 12;
    constexpr qreal verticalPadding = 10;
    constexpr qreal dotSize = 8;
    constexpr qreal spacing = 10;
    constexpr qreal maxTitleWidth = 220;

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
    const QPainterPath shape = cardShape(card);
    // Opaque, since the drag window may not be translucent; the material over the window colour
    // is what the card looks like over the board.
    painter.fillPath(shape, palette.color(QPalette::Window));
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

void shapeDragWindow()
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() &&
            qstrcmp(window->metaObject()->className(), "QShapedPixmapWindow") == 0) {
            const QPolygon outline =
                cardShape(QRectF(QPointF(0, 0), window->size())).toFillPolygon().toPolygon();
            window->setMask(QRegion(outline));
        }
    }
}

} // namespace DragPreviewCard
