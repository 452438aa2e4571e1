#include "MaterialFrame.h"

#include "LumaretStyle.h"
#include "SystemColors.h"

#include <QPainter>
#include <QPainterPath>

MaterialFrame::MaterialFrame(qreal cornerRadius, QWidget *parent)
    : QWidget(parent), m_cornerRadius(cornerRadius)
{
    repaintOnFocusWithin(this);
}

void MaterialFrame::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), m_cornerRadius, m_cornerRadius);
    painter.fillPath(shape, SystemColors::regularMaterial(palette()));
    if (hasFocusWithin(this))
        paintFocusRing(painter, QRectF(rect()), m_cornerRadius, palette());
}
