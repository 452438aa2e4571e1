#pragma once

#include "ThoughtCard.h"
#include "board/AccessibleCardList.h"
#include "board/CardListLayout.h"
#include "board/KanbanDragState.h"
#include "board/OverlayScrollBar.h"
#include "board/ThoughtDropTarget.h"
#include "models/Thought.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QTimer>
#include <QVariantAnimation>

#include <optional>

class BoardStore;
class DragAutoScroll;
class QMimeData;

/// The scrolling list of one column's cards, with the column's drop zones: a drop layer over each
/// card, the tail zone after the last card and the empty placeholder. Where the cards stand is
/// CardListLayout's; this widget lays out and paints only the cards that reach the viewport, and
/// takes the mouse, drags and drops (KanbanCardListDrops.cpp), the keys and the context menu
/// (KanbanCardListCommands.cpp).
class KanbanCardList : public QAbstractScrollArea, public AccessibleCardList
{
    Q_OBJECT

public:
    /// The width at the right of the list kept for the overlay scroll bar, in the column's padding.
    static constexpr int scrollStripWidth = OverlayScrollBar::stripWidth;
    KanbanCardList(BoardStore *store, KanbanDragState *dragState, ThoughtStatus status,
                   QWidget *parent = nullptr);
    ~KanbanCardList() override;

    ThoughtStatus status() const { return m_status; }
    const Board &thoughts() const override { return m_thoughts; }
    void setThoughts(const Board &thoughts);
    /// Whether an empty list shows its "暂无" placeholder; a search that matches nothing says so
    /// once for the whole board instead.
    void setPlaceholderShown(bool shown);

    /// Where the card of \a id is drawn now, in viewport coordinates; empty when it is not here.
    QRect cardRect(const QUuid &id) override;
    /// The zone that takes drops at the end of the column: the tail zone, or the placeholder.
    QRect endZoneRect();
    /// The target whose indicator this list shows, not counting one that is fading out.
    std::optional<ThoughtDropTarget> indicatorTarget() const { return m_indicator; }
    /// How many cards were laid out since the list last received its thoughts.
    int laidOutCardCount() const { return m_laidOutCardCount; }

    /// Where a card let go at \a viewportPos lands. Every point of the list has a target: over
    /// a card's upper half (its middle included) it is before that card, over its lower half
    /// before the next card; a gap between two cards belongs to the lower card; above the first
    /// card it is before the first, below the last card the end of the column. The insertion
    /// indicator is drawn from this same answer, so a drop always lands where it showed.
    ThoughtDropTarget targetAt(const QPointF &viewportPos) const;

    /// A drag of \a mimeData over \a viewportPos: points the board's indicator at the target
    /// there. False when this board is not dragging that card.
    bool dragOver(const QPointF &viewportPos, const QMimeData *mimeData);
    /// A drop at \a viewportPos: moves the dragged card to the target there and ends the drag.
    /// False, with the drag ended, when this board was not dragging that card.
    bool dropAt(const QPointF &viewportPos, const QMimeData *mimeData);

    /// The card the keyboard is on, shown with the focus ring while the list has focus.
    std::optional<QUuid> currentCard() const override { return m_currentId; }
    /// Puts the keyboard on the card of \a id, scrolled into view, and gives the list focus;
    /// false when the card is not in this list.
    bool focusCard(const QUuid &id);
    /// Gives the list focus on the card drawn nearest to \a viewportY; false without cards.
    bool focusCardNear(int viewportY);

    QSize sizeHint() const override;
    QAbstractScrollArea *cardArea() override { return this; }

signals:
    void editRequested(const Thought &thought);
    /// The card of \a id changed place (by key, drop, menu or double click): the focus follows
    /// it wherever it went, and a screen reader reads it out with its new column. Without an id
    /// the column has no card left to hold the focus.
    void followCard(const std::optional<QUuid> &id);
    /// Left or Right: the focus moves to the column \a step away, near \a viewportY.
    void neighbourColumnRequested(int step, int viewportY);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    struct CachedLayout
    {
        int width = 0;
        QString title;
        QString note;
        ThoughtCard::Layout layout;
    };

    int cardWidth() const;
    int scrollY() const;
    void rebuildEntries();
    void layoutVisibleCards();
    const ThoughtCard::Layout *cachedLayout(qsizetype index) const;
    void updateScrollRange();
    qsizetype cardIndexAt(const QPointF &viewportPos) const;
    std::optional<QUuid> cardIdAt(const QPointF &viewportPos) const;
    std::optional<qreal> indicatorLineY(const ThoughtDropTarget &target) const;

    bool commitDrop(const ThoughtDropTarget &target);
    void startDrag(const Thought &thought);
    void onDropTargetChanged(DropTargetChange change);
    void onDraggingChanged();

    qsizetype indexOf(const std::optional<QUuid> &id) const;
    void setCurrentIndex(qsizetype index);
    void scrollToIndex(qsizetype index);
    bool handleCardKey(QKeyEvent *event, qsizetype index);

    void setHovered(const std::optional<QUuid> &id);
    void refreshHoverFromCursor();

    void openPendingClick();

    BoardStore *m_store;
    KanbanDragState *m_dragState;
    ThoughtStatus m_status;
    Board m_thoughts;
    CardListLayout m_layout;
    QHash<QUuid, CachedLayout> m_layouts;
    int m_laidOutCardCount = 0;
    bool m_placeholderShown = true;

    std::optional<QUuid> m_currentId;
    std::optional<QUuid> m_hoveredId;
    bool m_hasPushedCursor = false;

    std::optional<QUuid> m_pressedId;
    QPoint m_pressPosition;
    bool m_ignoreNextRelease = false;
    QTimer m_singleClickTimer;
    std::optional<QUuid> m_pendingClickId;

    OverlayScrollBar *m_scrollBar = nullptr;
    DragAutoScroll *m_autoScroll = nullptr;
    std::optional<ThoughtDropTarget> m_indicator;
    std::optional<ThoughtDropTarget> m_leavingIndicator;
    qreal m_indicatorAppearance = 1;
    QVariantAnimation m_indicatorAnimation;
};
