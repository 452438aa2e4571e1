#pragma once

#include <QObject>
#include <QPointF>
#include <QTimer>

class QAbstractScrollArea;

/// Scrolls a column's list while a card is dragged near its top or bottom edge, faster the closer
/// the pointer comes to the edge, and with the wheel, which the toolkit's drag otherwise swallows.
/// After every step it reports where the pointer now is over the moved content, so that the
/// insertion line follows.
class DragAutoScroll : public QObject
{
    Q_OBJECT

public:
    /// How far from an edge the scrolling starts, and how many pixels a tick moves at the edge.
    static constexpr int edgeBand = 56;
    static constexpr int fastestStep = 28;
    static constexpr std::chrono::milliseconds tick{16};

    explicit DragAutoScroll(QAbstractScrollArea *area);

    /// Pixels to scroll in one tick for a pointer at \a y in a viewport \a height high: negative
    /// towards the top, positive towards the bottom, none away from both edges.
    static int step(qreal y, int height);

    /// The dragged card is over \a viewportPos of the area.
    void dragMoved(const QPointF &viewportPos);
    /// The drag left the area or ended.
    void stop();

signals:
    /// The content moved under a pointer that stayed at \a viewportPos.
    void scrolled(const QPointF &viewportPos);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void scrollBy(int pixels);

    QAbstractScrollArea *m_area;
    QTimer m_timer;
    QPointF m_position;
    bool m_watchingWheel = false;
};
