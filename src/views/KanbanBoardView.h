#pragma once

#include "models/Thought.h"

#include <QList>
#include <QWidget>

class BoardStore;
class KanbanColumn;
class KanbanDragState;
class QLabel;
class QTimer;

/// The four columns of the board, side by side and equally wide, each scrolling its own cards.
/// The board owns the one drag state all columns share, so a card can be dragged from any column
/// into any other and only one insertion indicator shows at a time.
class KanbanBoardView : public QWidget
{
    Q_OBJECT

public:
    explicit KanbanBoardView(BoardStore *store, QWidget *parent = nullptr);

    KanbanColumn *column(ThoughtStatus status) const;
    KanbanDragState *dragState() const { return m_dragState; }
    /// Shown across the board while a search matches no thought.
    QLabel *noMatchLabel() const { return m_noMatch; }

    /// Puts the keyboard on the card of \a id in whichever column shows it now, or without an id
    /// on the first card of the board. A card no column shows leaves the focus where it is.
    void followCard(const std::optional<QUuid> &id);

signals:
    /// A single click on a card asks the host to open the editor for \a thought.
    void editRequested(const Thought &thought);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void reload();
    void focusNeighbourColumn(ThoughtStatus from, int step, int viewportY);

    BoardStore *m_store;
    KanbanDragState *m_dragState;
    QList<KanbanColumn *> m_columns;
    QTimer *m_ageTimer;
    QLabel *m_noMatch;
};
