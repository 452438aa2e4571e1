#pragma once

#include "models/Thought.h"

#include <QWidget>

class BoardStore;
class KanbanCardList;
class KanbanColumnHeader;
class KanbanDragState;

/// One status of the board on its glass surface: the header with image, title and card count,
/// and below it the column's own scrolling list of cards.
class KanbanColumn : public QWidget
{
    Q_OBJECT

public:
    KanbanColumn(BoardStore *store, KanbanDragState *dragState, ThoughtStatus status,
                 QWidget *parent = nullptr);

    ThoughtStatus status() const { return m_status; }
    void setThoughts(const Board &thoughts);
    /// The number in the header's capsule.
    int count() const;
    KanbanCardList *cardList() const { return m_cardList; }

signals:
    void editRequested(const Thought &thought);

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    /// \a columnPos moved onto the nearest point of the card list.
    QPointF listPoint(const QPointF &columnPos) const;

    ThoughtStatus m_status;
    KanbanColumnHeader *m_header;
    KanbanCardList *m_cardList;
};

/// The header row of a column; painted, since it is only an image and two texts.
class KanbanColumnHeader : public QWidget
{
    Q_OBJECT

public:
    explicit KanbanColumnHeader(ThoughtStatus status, QWidget *parent = nullptr);

    int count() const { return m_count; }
    void setCount(int count);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ThoughtStatus m_status;
    int m_count = 0;
};
