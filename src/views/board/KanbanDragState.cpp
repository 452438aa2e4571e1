#include "KanbanDragState.h"

#include <QMimeData>

void KanbanDragState::setDraggingThoughtID(const std::optional<QUuid> &id)
{
    if (m_draggingThoughtID == id)
        return;
    m_draggingThoughtID = id;
    emit draggingThoughtIDChanged();
}

void KanbanDragState::setDropTarget(const std::optional<ThoughtDropTarget> &target,
                                    DropTargetChange change)
{
    if (m_dropTarget == target)
        return;
    m_dropTarget = target;
    emit dropTargetChanged(change);
}

void KanbanDragState::clear()
{
    setDraggingThoughtID(std::nullopt);
    setDropTarget(std::nullopt, DropTargetChange::direct);
}

bool KanbanDragState::accepts(const QMimeData *mimeData) const
{
    if (!m_draggingThoughtID || !mimeData || !mimeData->hasText())
        return false;
    return QUuid::fromString(mimeData->text().trimmed()) == *m_draggingThoughtID;
}
