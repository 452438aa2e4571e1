#pragma once

#include "board/ThoughtDropTarget.h"

#include <QObject>

class QMimeData;

/// Whether a change of the drop target is shown with the short indicator transition or at once.
enum class DropTargetChange { animated, direct };

/// The one drag state of a board: which card is being dragged and where it would land now. The
/// board view owns it and every column reads and writes the same instance, which is what keeps a
/// single insertion indicator on the whole board and lets a card cross columns.
class KanbanDragState : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    std::optional<QUuid> draggingThoughtID() const { return m_draggingThoughtID; }
    void setDraggingThoughtID(const std::optional<QUuid> &id);

    std::optional<ThoughtDropTarget> dropTarget() const { return m_dropTarget; }
    void setDropTarget(const std::optional<ThoughtDropTarget> &target, DropTargetChange change);

    bool isDragging() const { return m_draggingThoughtID.has_value(); }
    /// Whether \a mimeData is the card this board is dragging: text from anywhere else, or
    /// another card's id, is refused.
    bool accepts(const QMimeData *mimeData) const;

    /// Ends the drag: no card is dragged and nothing is targeted.
    void clear();

signals:
    void draggingThoughtIDChanged();
    void dropTargetChanged(DropTargetChange change);

private:
    std::optional<QUuid> m_draggingThoughtID;
    std::optional<ThoughtDropTarget> m_dropTarget;
};
