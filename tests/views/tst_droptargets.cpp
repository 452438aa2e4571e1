#include "BoardFixtures.h"
#include "BoardWindowFixture.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "board/KanbanDragState.h"

#include <QMimeData>
#include <QtTest>

// D, dragged from 进行中, is let go over the column of A, B and C, whose cards lie 10 apart.
class TestDropTargets : public QObject, protected BoardWindowFixture
{
    Q_OBJECT

private slots:
    void cleanup() { resetBoard(); }
    void dropLandsOnTheIndicator_data();
    void dropLandsOnTheIndicator();
};

void TestDropTargets::dropLandsOnTheIndicator_data()
{
    QTest::addColumn<QString>("over"); // a card, or the list's bottom, its column or the board
    QTest::addColumn<int>("dy");       // from the top of that card, or up from the list's bottom
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("column");
    QTest::newRow("gap, just above the lower card") << "B" << -2 << "B"
                                                    << "A D B C";
    QTest::newRow("gap, just below the upper card") << "B" << -8 << "B"
                                                    << "A D B C";
    QTest::newRow("above the first card") << "A" << -1 << "A"
                                          << "D A B C";
    QTest::newRow("below the last card") << "bottom" << 2 << ""
                                         << "A B C D";
    QTest::newRow("column header: nearest point") << "column" << 0 << "A"
                                                  << "D A B C";
    QTest::newRow("between columns: indicator kept") << "board" << 0 << "B"
                                                     << "A D B C";
}

void TestDropTargets::dropLandsOnTheIndicator()
{
    QFETCH(QString, over);
    QFETCH(int, dy);
    QFETCH(QString, before);
    QFETCH(QString, column);
    showBoard({makeThought("A"), makeThought("B"), makeThought("C"),
               makeThought("D", ThoughtStatus::inProgress)});
    const QUuid dragged = thought("D").id;
    KanbanDragState *state = m_board->dragState();
    state->setDraggingThoughtID(dragged);
    state->setDropTarget(ThoughtDropTarget{ThoughtStatus::notStarted, thought("B").id},
                         DropTargetChange::direct);
    QMimeData mime;
    mime.setText(uuidText(dragged));
    KanbanCardList *cards = list(ThoughtStatus::notStarted);
    KanbanColumn *first = m_board->column(ThoughtStatus::notStarted);
    QWidget *widget = cards->viewport();
    QPoint at(20, cards->viewport()->height() - dy);
    if (over == "column")
        std::tie(widget, at) = std::pair<QWidget *, QPoint>(first, {40, 20});
    else if (over == "board")
        std::tie(widget, at) = std::pair<QWidget *, QPoint>(m_board, {first->width() + 7, 300});
    else if (over != "bottom")
        at.setY(cards->cardRect(thought(over).id).top() + dy);

    QDragEnterEvent enter(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QVERIFY(enter.isAccepted());
    const ThoughtDropTarget shown{ThoughtStatus::notStarted,
                                  before.isEmpty() ? std::nullopt
                                                   : std::optional(thought(before).id)};
    QCOMPARE(cards->indicatorTarget(), std::optional(shown));
    QDropEvent drop(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(titles(m_store->visibleThoughtsByStatus()[ThoughtStatus::notStarted]).join(' '),
             column);
    QVERIFY(!state->isDragging());
}

QTEST_MAIN(TestDropTargets)
#include "tst_droptargets.moc"
