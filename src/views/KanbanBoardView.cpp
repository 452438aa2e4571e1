#include "KanbanBoardView.h"

#include "stores/BoardStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

KanbanBoardView::KanbanBoardView(BoardStore *store, QWidget *parent)
    : QWidget(parent), m_store(store)
{
    auto *layout = new QHBoxLayout(this);
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        auto *column = new QVBoxLayout;
        column->addWidget(new QLabel(ThoughtStatuses::title(status), this));
        auto *list = new QListWidget(this);
        column->addWidget(list);
        layout->addLayout(column);
        m_columns.append(list);
    }
    connect(store, &BoardStore::thoughtsChanged, this, &KanbanBoardView::reload);
    connect(store, &BoardStore::searchTextChanged, this, &KanbanBoardView::reload);
    reload();
}

void KanbanBoardView::reload()
{
    const ThoughtsByStatus byStatus = m_store->visibleThoughtsByStatus();
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        QListWidget *list = m_columns[qsizetype(status)];
        list->clear();
        for (const Thought &thought : byStatus[status])
            list->addItem(thought.title);
    }
}
