#include "GlassFrame.h"

#include "SymbolIcon.h"
#include "SystemColors.h"

#include <QPainter>

GlassFrame::GlassFrame(qreal cornerRadius, std::optional<QColor> tint, GlassInteraction interaction,
                       QWidget *parent)
    : QWidget(parent), m_cornerRadius(cornerRadius), m_tint(std::move(tint)),
      m_interaction(interaction)
{}

void GlassFrame::setTint(const std::optional<QColor> &tint)
{
    m_tint = tint;
    update();
}

void GlassFrame::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    paintAppGlass(painter, rect(), m_cornerRadius, m_tint, m_interaction, palette());
}

GlassSymbolButton::GlassSymbolButton(const QString &systemImage, int frameSize, qreal cornerRadius,
                                     QWidget *parent)
    : QAbstractButton(parent), m_systemImage(systemImage), m_frameSize(frameSize),
      m_cornerRadius(cornerRadius)
{
    setFixedSize(frameSize, frameSize);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::TabFocus);
}

QSize GlassSymbolButton::sizeHint() const
{
    return {m_frameSize, m_frameSize};
}

void GlassSymbolButton::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    paintAppGlass(painter, rect(), m_cornerRadius, std::nullopt, GlassInteraction::interactive,
                  palette());
    QColor color = SystemColors::primaryLabel(palette());
    if (isDown())
        color = SystemColors::secondaryLabel(palette());
    const int symbolSize = 16;
    const QPixmap symbol = symbolPixmap(m_systemImage, color, symbolSize, devicePixelRatioF());
    const QPointF origin((width() - symbolSize) / 2.0, (height() - symbolSize) / 2.0);
    painter.drawPixmap(origin, symbol);
}
