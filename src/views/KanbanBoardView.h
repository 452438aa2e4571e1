#pragma once

#include <QWidget>

class BoardStore;
class QListWidget;

/// The four columns of the board, side by side, each showing its visible thoughts in board order.
class KanbanBoardView : public QWidget
{
    Q_OBJECT

public:
    explicit KanbanBoardView(BoardStore *store, QWidget *parent = nullptr);

private:
    void reload();

    BoardStore *m_store;
    QList<QListWidget *> m_columns;
};
