#include "BoardFixtures.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "board/KanbanDragState.h"
#include "stores/BoardStore.h"

#include <QMimeData>
#include <QtTest>

// D, dragged from 进行中, is let go over the column of A, B and C (in board order, 10 apart).
class TestDropTargets : public QObject
{
    Q_OBJECT

private slots:
    void dropLandsOnTheIndicator_data();
    void dropLandsOnTheIndicator();
};

void TestDropTargets::dropLandsOnTheIndicator_data()
{
    // Over a card (dy from its top), the list's bottom (dy up from it), the column or the board;
    // the card the indicator shows D landing before ("" for the end); the column after the drop.
    QTest::addColumn<QString>("run");
    QTest::newRow("gap, just above the lower card") << "B|-2|B|A D B C";
    QTest::newRow("gap, just below the upper card") << "B|-8|B|A D B C";
    QTest::newRow("above the first card") << "A|-1|A|D A B C";
    QTest::newRow("below the last card") << "bottom|2||A B C D";
    QTest::newRow("column header: nearest point") << "column|0|A|D A B C";
    QTest::newRow("between columns: indicator kept") << "board|0|B|A D B C";
}

void TestDropTargets::dropLandsOnTheIndicator()
{
    QFETCH(QString, run);
    const QStringList fields = run.split('|');
    const QString over = fields[0], before = fields[2], column = fields[3];
    const int dy = fields[1].toInt();
    RecordingPersistence persistence;
    persistence.stored = Board{makeThought("A"), makeThought("B"), makeThought("C"),
                               makeThought("D", ThoughtStatus::inProgress)};
    BoardStore store(persistence.persistence());
    KanbanBoardView board(&store);
    board.resize(1120, 560);
    board.show();
    QVERIFY(QTest::qWaitForWindowExposed(&board));
    const auto thought = [&](const QString &title) {
        return store.thoughts()[title[0].unicode() - 'A'];
    };
    const QUuid dragged = thought("D").id;
    KanbanDragState *state = board.dragState();
    state->setDraggingThoughtID(dragged);
    state->setDropTarget(ThoughtDropTarget{ThoughtStatus::notStarted, thought("B").id},
                         DropTargetChange::direct);
    QMimeData mime;
    mime.setText(uuidText(dragged));
    KanbanCardList *cards = board.column(ThoughtStatus::notStarted)->cardList();
    KanbanColumn *first = board.column(ThoughtStatus::notStarted);
    QWidget *widget = cards->viewport();
    QPoint at(20, cards->viewport()->height() - dy);
    if (over == "column")
        std::tie(widget, at) = std::pair<QWidget *, QPoint>(first, {40, 20});
    else if (over == "board")
        std::tie(widget, at) = std::pair<QWidget *, QPoint>(&board, {first->width() + 7, 300});
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
    QCOMPARE(titles(store.visibleThoughtsByStatus()[ThoughtStatus::notStarted]).join(' '), column);
    QVERIFY(!state->isDragging());
}

QTEST_MAIN(TestDropTargets)
#include "tst_droptargets.moc"
