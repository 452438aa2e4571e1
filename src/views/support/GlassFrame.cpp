#include "GlassFrame.h"

#include "LumaretStyle.h"
#include "SymbolIcon.h"
#include "SystemColors.h"

#include <QPainter>

GlassFrame::GlassFrame(qreal cornerRadius, std::optional<QColor> tint, GlassInteraction interaction,
                       QWidget *parent)
    : QWidget(parent), m_cornerRadius(cornerRadius), m_tint(std::move(tint)),
      m_interaction(interaction)
{
    repaintOnFocusWithin(this);
}

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
    // A field inside (the search text, the composer) shows its focus on the whole surface.
    if (hasFocusWithin(this))
        paintFocusRing(painter, rect(), m_cornerRadius, palette());
}

GlassSymbolButton::GlassSymbolButton(const QString &systemImage, int frameSize, qreal cornerRadius,
                                     QWidget *parent)
    : QAbstractButton(parent), m_systemImage(systemImage), m_frameSize(frameSize),
      m_cornerRadius(cornerRadius)
{
    setFixedSize(frameSize, frameSize);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
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
    // Hovered the glass is lit a little; pressed it is shaded.
    if (isEnabled() && (isDown() || underMouse())) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(
            isDown() ? SystemColors::withOpacity(SystemColors::primaryLabel(palette()), 0.12)
                     : QColor::fromRgbF(1, 1, 1, isDarkAppearance(palette()) ? 0.12f : 0.55f));
        painter.drawRoundedRect(QRectF(rect()), m_cornerRadius, m_cornerRadius);
    }
    if (hasFocus())
        paintFocusRing(painter, rect(), m_cornerRadius, palette());
    QColor color = SystemColors::primaryLabel(palette());
    if (isDown())
        color = SystemColors::secondaryLabel(palette());
    const int symbolSize = 16;
    const QPixmap symbol = symbolPixmap(m_systemImage, color, symbolSize, devicePixelRatioF());
    const QPointF origin((width() - symbolSize) / 2.0, (height() - symbolSize) / 2.0);
    painter.drawPixmap(origin, symbol);
}
