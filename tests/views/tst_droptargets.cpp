#include "BoardFixtures.h"
#include "BoardWindowFixture.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "board/KanbanDragState.h"

#include <QMimeData>
#include <QtTest>

// Where the pointer is let go, relative to the first column's cards A, B and C.
enum class Place { gapAboveB, gapBelowA, aboveA, gapAboveTail, belowAll, header, besideColumn };
Q_DECLARE_METATYPE(Place)

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
    QTest::addColumn<Place>("place");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("column");
    QTest::newRow("gap, just above the lower card") << Place::gapAboveB << "B"
                                                    << "A D B C";
    QTest::newRow("gap, just below the upper card") << Place::gapBelowA << "B"
                                                    << "A D B C";
    QTest::newRow("above the first card") << Place::aboveA << "A"
                                          << "D A B C";
    QTest::newRow("gap above the tail") << Place::gapAboveTail << ""
                                        << "A B C D";
    QTest::newRow("empty room below the tail") << Place::belowAll << ""
                                               << "A B C D";
    QTest::newRow("column header: nearest point") << Place::header << "A"
                                                  << "D A B C";
    // Between two columns nothing is recomputed: the indicator shown before the gap stays.
    QTest::newRow("between columns: the indicator that stayed") << Place::besideColumn << "B"
                                                                << "A D B C";
}

void TestDropTargets::dropLandsOnTheIndicator()
{
    QFETCH(Place, place);
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
    const QRect a = cards->cardRect(thought("A").id);
    const QRect b = cards->cardRect(thought("B").id);
    const QRect c = cards->cardRect(thought("C").id);
    const QHash<Place, QPair<QWidget *, QPoint>> places{
        {Place::gapAboveB, {cards->viewport(), {a.center().x(), b.top() - 2}}},
        {Place::gapBelowA, {cards->viewport(), {a.center().x(), a.bottom() + 2}}},
        {Place::aboveA, {cards->viewport(), {a.center().x(), a.top() - 1}}},
        {Place::gapAboveTail, {cards->viewport(), {a.center().x(), c.bottom() + 3}}},
        {Place::belowAll, {cards->viewport(), {a.center().x(), cards->viewport()->height() - 2}}},
        {Place::header, {first, {40, 20}}},
        {Place::besideColumn, {m_board, {first->geometry().right() + 7, 300}}}};
    const auto [widget, at] = places.value(place);
    QVERIFY(widget->childAt(at) == nullptr || place == Place::header);

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
