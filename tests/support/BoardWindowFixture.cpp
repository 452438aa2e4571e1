#include "BoardWindowFixture.h"

#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"

#include <QTest>
#include <QVBoxLayout>

void BoardWindowFixture::showBoard(const Board &board)
{
    m_persistence = RecordingPersistence();
    m_persistence.stored = board;
    m_store = std::make_unique<BoardStore>(m_persistence.persistence());
    m_store->setClock(fixtureNow);
    m_window = std::make_unique<QWidget>();
    auto *layout = new QVBoxLayout(m_window.get());
    m_board = new KanbanBoardView(m_store.get(), m_window.get());
    layout->addWidget(m_board);
    m_window->resize(1120, 720);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void BoardWindowFixture::resetBoard()
{
    m_window.reset();
    m_store.reset();
    m_board = nullptr;
}

Thought BoardWindowFixture::thought(const QString &title) const
{
    for (const Thought &candidate : m_store->thoughts()) {
        if (candidate.title == title)
            return candidate;
    }
    return Thought();
}

KanbanCardList *BoardWindowFixture::list(ThoughtStatus status) const
{
    return m_board->column(status)->cardList();
}
