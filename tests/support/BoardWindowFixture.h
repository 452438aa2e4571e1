#pragma once

#include "BoardFixtures.h"
#include "stores/BoardStore.h"

#include <QWidget>

#include <memory>

class KanbanBoardView;
class KanbanCardList;

/// A board view over a recording store in a shown 1120x720 window, for the board's widget tests.
class BoardWindowFixture
{
protected:
    void showBoard(const Board &board);
    void resetBoard();
    /// The thought with \a title as the store holds it now, or an empty thought.
    Thought thought(const QString &title) const;
    KanbanCardList *list(ThoughtStatus status) const;

    RecordingPersistence m_persistence;
    std::unique_ptr<BoardStore> m_store;
    std::unique_ptr<QWidget> m_window;
    KanbanBoardView *m_board = nullptr;
};
