#pragma once

#include <QRectF>

class QPainter;

/// The soft shadow under a floating panel, as if lit from above: a blurred rounded rectangle
/// a little below it.
namespace PanelShadow {

/// Paints the shadow of a panel at \a panelRect with rounded corners of \a cornerRadius. The
/// blur is worked out once per panel size and corner radius.
void paint(QPainter &painter, const QRectF &panelRect, qreal cornerRadius, qreal opacity = 1.0);

} // namespace PanelShadow
