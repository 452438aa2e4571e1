#include "board/OverlayScrollBar.h"

#include "board/BoardStyle.h"

#include <QAbstractScrollArea>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

constexpr qreal thumbWidth = 5;
constexpr qreal thumbMargin = 2;
constexpr int thumbMinimumHeight = 28;
constexpr int fadeMs = 160;
constexpr int idleMs = 1200;

} // namespace

OverlayScrollBar::OverlayScrollBar(QAbstractScrollArea *area) : QObject(area), m_area(area)
{
    m_fade.setDuration(fadeMs);
    m_fade.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_opacity = value.toReal();
        m_area->viewport()->update();
    });
    m_idle.setSingleShot(true);
    m_idle.setInterval(idleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (!m_area->viewport()->underMouse() && !m_thumbDrag)
            fadeTo(0);
    });
}

QRectF OverlayScrollBar::thumbRect() const
{
    const QScrollBar *bar = m_area->verticalScrollBar();
    const int viewHeight = m_area->viewport()->height();
    if (bar->maximum() <= 0 || viewHeight <= 0)
        return {};
    const qreal track = viewHeight - 2 * thumbMargin;
    const qreal length =
        qMax<qreal>(thumbMinimumHeight, track * viewHeight / (viewHeight + bar->maximum()));
    const qreal top = thumbMargin + (track - length) * bar->value() / bar->maximum();
    return {m_area->viewport()->width() - stripWidth / 2.0 - thumbWidth / 2, top, thumbWidth,
            length};
}

void OverlayScrollBar::reveal()
{
    if (m_area->verticalScrollBar()->maximum() <= 0)
        return;
    fadeTo(1);
    m_idle.start();
}

void OverlayScrollBar::pointerLeft()
{
    m_idle.start();
}

void OverlayScrollBar::fadeTo(qreal opacity)
{
    if (qFuzzyCompare(m_fade.endValue().toReal() + 1, opacity + 1) &&
        m_fade.state() == QAbstractAnimation::Running)
        return;
    m_fade.stop();
    m_fade.setStartValue(m_opacity);
    m_fade.setEndValue(opacity);
    m_fade.start();
}

bool OverlayScrollBar::press(const QMouseEvent *event)
{
    const QRectF thumb = thumbRect();
    if (thumb.isEmpty() || m_opacity <= 0 || event->position().x() < thumb.left() - thumbMargin)
        return false;
    QScrollBar *bar = m_area->verticalScrollBar();
    const qreal y = event->position().y();
    // A press beside the thumb pages towards it, as on any scroll bar.
    if (y < thumb.top() || y > thumb.bottom())
        bar->triggerAction(y < thumb.top() ? QAbstractSlider::SliderPageStepSub
                                           : QAbstractSlider::SliderPageStepAdd);
    m_thumbDrag = std::pair(y, bar->value());
    return true;
}

bool OverlayScrollBar::move(const QMouseEvent *event)
{
    if (!m_thumbDrag)
        return false;
    QScrollBar *bar = m_area->verticalScrollBar();
    const qreal travel = m_area->viewport()->height() - 2 * thumbMargin - thumbRect().height();
    if (travel > 0) {
        const qreal moved = event->position().y() - m_thumbDrag->first;
        bar->setValue(m_thumbDrag->second + qRound(moved * bar->maximum() / travel));
    }
    return true;
}

bool OverlayScrollBar::release()
{
    if (!std::exchange(m_thumbDrag, std::nullopt))
        return false;
    m_idle.start();
    m_area->viewport()->update();
    return true;
}

void OverlayScrollBar::paint(QPainter &painter) const
{
    const QRectF thumb = thumbRect();
    if (m_opacity <= 0 || thumb.isEmpty())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(secondaryLabel(m_area->palette()));
    painter.setOpacity(m_opacity * (m_thumbDrag ? 0.9 : 0.6));
    painter.drawRoundedRect(thumb, thumb.width() / 2, thumb.width() / 2);
}
