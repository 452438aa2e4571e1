#include "DragAutoScroll.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>

DragAutoScroll::DragAutoScroll(QAbstractScrollArea *area) : QObject(area), m_area(area)
{
    m_timer.setInterval(tick);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        const int pixels = step(m_position.y(), m_area->viewport()->height());
        if (pixels == 0)
            m_timer.stop();
        else
            scrollBy(pixels);
    });
}

int DragAutoScroll::step(qreal y, int height)
{
    const int band = qMin(edgeBand, height / 3);
    if (band <= 0)
        return 0;
    const qreal fromTop = y, fromBottom = height - 1 - y;
    const qreal depth = fromTop < band      ? band - qMax<qreal>(fromTop, 0)
                        : fromBottom < band ? band - qMax<qreal>(fromBottom, 0)
                                            : 0;
    // Slow at the band's inner border, so that passing through it barely moves the list, and
    // quickest at the edge; a pointer beyond the edge scrolls as fast as one on it.
    const qreal fraction = qMin<qreal>(depth / band, 1);
    const int pixels = int(std::ceil(fastestStep * fraction * fraction));
    return fromTop < band ? -pixels : pixels;
}

void DragAutoScroll::dragMoved(const QPointF &viewportPos)
{
    m_position = viewportPos;
    if (step(viewportPos.y(), m_area->viewport()->height()) != 0 && !m_timer.isActive())
        m_timer.start();
    // Installed while the drag runs, after the drag's own filter, so that it sees the wheel first.
    if (!m_watchingWheel) {
        qApp->installEventFilter(this);
        m_watchingWheel = true;
    }
}

void DragAutoScroll::stop()
{
    m_timer.stop();
    if (m_watchingWheel) {
        qApp->removeEventFilter(this);
        m_watchingWheel = false;
    }
}

bool DragAutoScroll::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint pointer = m_area->viewport()->mapFromGlobal(wheel->globalPosition().toPoint());
        if (m_area->viewport()->rect().contains(pointer)) {
            const int pixels = !wheel->pixelDelta().isNull()
                                   ? wheel->pixelDelta().y()
                                   : wheel->angleDelta().y() * QApplication::wheelScrollLines() *
                                         m_area->verticalScrollBar()->singleStep() / 120;
            m_position = pointer;
            scrollBy(-pixels);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DragAutoScroll::scrollBy(int pixels)
{
    QScrollBar *bar = m_area->verticalScrollBar();
    const int before = bar->value();
    bar->setValue(before + pixels);
    if (bar->value() != before)
        emit scrolled(m_position);
}
