#pragma once

#include <QObject>
#include <QTimer>
#include <QVariantAnimation>

#include <optional>

class QAbstractScrollArea;
class QMouseEvent;
class QPainter;
class QRectF;

/// The thin thumb a card list draws over its right edge instead of a scroll bar: it shows while
/// the pointer is over the list or the list scrolls, fades away a moment after, and can be
/// dragged or clicked beside to page. It drives the area's own (hidden) vertical scroll bar.
class OverlayScrollBar : public QObject
{
    Q_OBJECT

public:
    /// The width at the right of the list kept for the thumb, in the column's padding.
    static constexpr int stripWidth = 10;

    explicit OverlayScrollBar(QAbstractScrollArea *area);

    /// Shows the thumb, and fades it out again once the list has been idle for a while.
    void reveal();
    /// The pointer left the list: the thumb fades after the idle time.
    void pointerLeft();

    /// A press on the thumb or beside it, which the bar takes; false when the press is the list's.
    bool press(const QMouseEvent *event);
    /// Drags the thumb; false when no thumb drag is under way.
    bool move(const QMouseEvent *event);
    /// Ends a thumb drag; false when there was none.
    bool release();

    void paint(QPainter &painter) const;

private:
    /// The thumb in viewport coordinates; empty when all cards fit.
    QRectF thumbRect() const;
    void fadeTo(qreal opacity);

    QAbstractScrollArea *m_area;
    qreal m_opacity = 0;
    QVariantAnimation m_fade;
    QTimer m_idle;
    // Where the pointer and the scroll position were when the thumb was taken.
    std::optional<std::pair<qreal, int>> m_thumbDrag;
};
