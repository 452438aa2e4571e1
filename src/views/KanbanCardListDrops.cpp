// The card list's side of drag and drop: where a dragged card would land, the insertion
// indicator that shows it, and the drag a pressed card starts. The board's KanbanDragState holds
// the one drag under way; each column's list shows its own part of it.

#include "KanbanCardList.h"

#include "DragPreview.h"
#include "board/DragAutoScroll.h"
#include "stores/BoardStore.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPointer>
#include <QTimer>

ThoughtDropTarget KanbanCardList::targetAt(const QPointF &viewportPos) const
{
    const qsizetype index = m_layout.dropIndexAt(viewportPos.y() + scrollY());
    if (index >= m_thoughts.size())
        return ThoughtDropTarget{m_status, std::nullopt};
    return ThoughtDropTarget{m_status, m_thoughts.at(index).id};
}

std::optional<qreal> KanbanCardList::indicatorLineY(const ThoughtDropTarget &target) const
{
    const qsizetype index =
        target.beforeThoughtID ? indexOf(target.beforeThoughtID) : m_thoughts.size();
    if (index < 0)
        return std::nullopt;
    return qreal(m_layout.dropLineY(index) - scrollY());
}

bool KanbanCardList::dragOver(const QPointF &viewportPos, const QMimeData *mimeData)
{
    if (!m_dragState->accepts(mimeData))
        return false;
    m_dragState->setDropTarget(targetAt(viewportPos), DropTargetChange::animated);
    m_autoScroll->dragMoved(viewportPos);
    return true;
}

bool KanbanCardList::dropAt(const QPointF &viewportPos, const QMimeData *mimeData)
{
    if (!m_dragState->accepts(mimeData)) {
        m_dragState->clear();
        return false;
    }
    // The target is worked out again from where the card was let go, not read from the state.
    return commitDrop(targetAt(viewportPos));
}

void KanbanCardList::dragEnterEvent(QDragEnterEvent *event)
{
    // Entering is answered as a move to the same point: the list takes the drag only there.
    dragMoveEvent(event);
}

void KanbanCardList::dragMoveEvent(QDragMoveEvent *event)
{
    if (!dragOver(event->position(), event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void KanbanCardList::dragLeaveEvent(QDragLeaveEvent *event)
{
    // The indicator stays where it was until another zone takes over or the drag ends.
    event->accept();
}

void KanbanCardList::dropEvent(QDropEvent *event)
{
    if (dropAt(event->position(), event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

bool KanbanCardList::commitDrop(const ThoughtDropTarget &target)
{
    const std::optional<QUuid> dragging = m_dragState->draggingThoughtID();
    if (!dragging)
        return false;
    m_store->move(*dragging, target.status, target.beforeThoughtID);
    // The focus, and with it what a screen reader reads, goes with the card to its new place.
    emit followCard(*dragging);
    m_dragState->clear();
    return true;
}

void KanbanCardList::startDrag(const Thought &thought)
{
    m_singleClickTimer.stop();
    m_pendingClickId.reset();
    m_dragState->setDraggingThoughtID(thought.id);

    auto *mimeData = new QMimeData;
    mimeData->setText(uuidText(thought.id));
    auto *drag = new QDrag(this);
    drag->setMimeData(mimeData);
    const qreal dpr = devicePixelRatioF();
    const QPixmap preview = DragPreviewCard::render(thought, palette(), dpr);
    drag->setPixmap(preview);
    // The preview hangs just below the pointer so it never hides the insertion indicator, which
    // is drawn on the line the pointer points at.
    drag->setHotSpot(QPoint(20, -14));

    QPointer<KanbanCardList> self(this);
    QPointer<KanbanDragState> state(m_dragState);
    QTimer::singleShot(0, this, &DragPreviewCard::shapeDragWindow);
    drag->exec(Qt::MoveAction);
    // Every drag ends here, also one let go outside the board or cancelled, where no drop zone
    // clears the state: the card would otherwise stay faded and the tail zones tall.
    if (state && state->isDragging())
        state->clear();
    if (self)
        self->refreshHoverFromCursor();
}

void KanbanCardList::onDropTargetChanged(DropTargetChange change)
{
    std::optional<ThoughtDropTarget> mine = m_dragState->dropTarget();
    if (mine && mine->status != m_status)
        mine.reset();
    if (!mine)
        m_autoScroll->stop();
    if (mine == m_indicator)
        return;
    if (change == DropTargetChange::direct) {
        m_indicatorAnimation.stop();
        m_leavingIndicator.reset();
        m_indicator = mine;
        m_indicatorAppearance = 1;
        viewport()->update();
        return;
    }
    m_leavingIndicator = m_indicator;
    m_indicator = mine;
    m_indicatorAppearance = 0;
    m_indicatorAnimation.stop();
    m_indicatorAnimation.start();
    viewport()->update();
}

void KanbanCardList::onDraggingChanged()
{
    // The tail zone grows while any card is dragged so there is room to drop below the last card.
    if (!m_dragState->isDragging())
        m_autoScroll->stop();
    m_layout.setDragging(m_dragState->isDragging());
    updateScrollRange();
    viewport()->update();
}
