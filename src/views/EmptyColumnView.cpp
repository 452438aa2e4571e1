#include "EmptyColumnView.h"

#include "board/BoardStyle.h"
#include "support/GlassSurface.h"
#include "support/SymbolIcon.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace EmptyColumnView {

void paint(QPainter &painter, const QRect &rect, ThoughtStatus status, const QPalette &palette)
{
    constexpr int iconSize = 28;
    constexpr qreal spacing = 8;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // The fill is accent at 0.14 seen through a further 0.45.
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect), 16, 16);
    paintClipped(painter, QRectF(rect),
                 [&] { painter.fillPath(shape, accentColor(status, 0.14 * 0.45)); });

    const QFont font = boardFont(12, QFont::Medium);
    const QFontMetricsF metrics(font);
    const qreal contentHeight = iconSize + spacing + metrics.height();
    const qreal top = rect.top() + (rect.height() - contentHeight) / 2;
    const qreal dpr = painter.device()->devicePixelRatioF();
    painter.drawPixmap(QPointF(rect.center().x() + 1 - iconSize / 2.0, top),
                       symbolPixmap(ThoughtStatuses::systemImage(status), accentColor(status, 0.75),
                                    iconSize, dpr));

    const QString text = QStringLiteral("暂无");
    painter.setFont(font);
    painter.setPen(secondaryLabel(palette));
    const qreal textWidth = metrics.horizontalAdvance(text);
    painter.drawText(QPointF(rect.left() + (rect.width() - textWidth) / 2,
                             top + iconSize + spacing + metrics.ascent()),
                     text);
    painter.restore();
}

} // namespace EmptyColumnView
