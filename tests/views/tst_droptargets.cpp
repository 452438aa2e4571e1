#include "BoardFixtures.h"
#include "BoardWindowFixture.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "board/KanbanDragState.h"

#include <QMimeData>
#include <QtTest>

// Where the pointer is let go: a widget of the board and a point in it, worked out once the
// board is shown.
enum class Place { gapAboveB, gapBelowA, aboveFirstCard, gapAboveTail, belowEverything, header };
Q_DECLARE_METATYPE(Place)

class TestDropTargets : public QObject, protected BoardWindowFixture
{
    Q_OBJECT

private slots:
    void cleanup() { resetBoard(); }
    void dropLandsOnTheIndicatorEverywhere_data();
    void dropLandsOnTheIndicatorEverywhere();
    void dropBetweenColumnsLandsOnTheIndicator();

private:
    QPair<QWidget *, QPoint> pointAt(Place place) const;
    bool send(QEvent::Type type, QWidget *widget, const QPoint &at, const QMimeData &mime);
};

QPair<QWidget *, QPoint> TestDropTargets::pointAt(Place place) const
{
    KanbanCardList *cards = list(ThoughtStatus::notStarted);
    const QRect a = cards->cardRect(thought(QStringLiteral("A")).id);
    const QRect b = cards->cardRect(thought(QStringLiteral("B")).id);
    const QRect c = cards->cardRect(thought(QStringLiteral("C")).id);
    const int x = a.center().x();
    switch (place) {
    case Place::gapAboveB:
        return {cards->viewport(), QPoint(x, b.top() - 2)};
    case Place::gapBelowA:
        return {cards->viewport(), QPoint(x, a.bottom() + 2)};
    case Place::aboveFirstCard:
        return {cards->viewport(), QPoint(x, a.top() - 1)};
    case Place::gapAboveTail:
        return {cards->viewport(), QPoint(x, c.bottom() + 3)};
    case Place::belowEverything:
        return {cards->viewport(), QPoint(x, cards->viewport()->height() - 2)};
    case Place::header:
        return {m_board->column(ThoughtStatus::notStarted), QPoint(40, 20)};
    }
    return {};
}

bool TestDropTargets::send(QEvent::Type type, QWidget *widget, const QPoint &at,
                           const QMimeData &mime)
{
    if (type == QEvent::Drop) {
        QDropEvent drop(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &drop);
        return drop.isAccepted();
    }
    QDragMoveEvent move(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier, type);
    QApplication::sendEvent(widget, &move);
    return move.isAccepted();
}

void TestDropTargets::dropLandsOnTheIndicatorEverywhere_data()
{
    QTest::addColumn<Place>("place");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QStringList>("column");
    QTest::newRow("gap, just above the lower card")
        << Place::gapAboveB << "B" << QStringList{"A", "D", "B", "C"};
    QTest::newRow("gap, just below the upper card")
        << Place::gapBelowA << "B" << QStringList{"A", "D", "B", "C"};
    QTest::newRow("above the first card")
        << Place::aboveFirstCard << "A" << QStringList{"D", "A", "B", "C"};
    QTest::newRow("gap between the last card and the tail")
        << Place::gapAboveTail << "" << QStringList{"A", "B", "C", "D"};
    QTest::newRow("empty room below the tail")
        << Place::belowEverything << "" << QStringList{"A", "B", "C", "D"};
    QTest::newRow("column header") << Place::header << "A" << QStringList{"D", "A", "B", "C"};
}

void TestDropTargets::dropLandsOnTheIndicatorEverywhere()
{
    QFETCH(Place, place);
    QFETCH(QString, before);
    QFETCH(QStringList, column);
    showBoard({makeThought("A"), makeThought("B"), makeThought("C"),
               makeThought("D", ThoughtStatus::inProgress)});
    const QUuid dragged = thought("D").id;
    m_board->dragState()->setDraggingThoughtID(dragged);
    QMimeData mime;
    mime.setText(uuidText(dragged));
    const auto [widget, at] = pointAt(place);

    QVERIFY(send(QEvent::DragEnter, widget, at, mime));
    QVERIFY(send(QEvent::DragMove, widget, at, mime));
    const ThoughtDropTarget shown{ThoughtStatus::notStarted,
                                  before.isEmpty() ? std::nullopt
                                                   : std::optional(thought(before).id)};
    QCOMPARE(list(ThoughtStatus::notStarted)->indicatorTarget(), std::optional(shown));
    QVERIFY(send(QEvent::Drop, widget, at, mime));
    QCOMPARE(titles(m_store->visibleThoughtsByStatus()[ThoughtStatus::notStarted]), column);
    QVERIFY(!m_board->dragState()->isDragging());
}

void TestDropTargets::dropBetweenColumnsLandsOnTheIndicator()
{
    showBoard({makeThought("A"), makeThought("B"), makeThought("D", ThoughtStatus::inProgress)});
    const QUuid dragged = thought("D").id;
    KanbanDragState *state = m_board->dragState();
    state->setDraggingThoughtID(dragged);
    state->setDropTarget(ThoughtDropTarget{ThoughtStatus::notStarted, thought("B").id},
                         DropTargetChange::direct);
    QMimeData mime;
    mime.setText(uuidText(dragged));
    KanbanColumn *first = m_board->column(ThoughtStatus::notStarted);
    const QPoint gap(first->geometry().right() + 7, first->geometry().center().y());
    QCOMPARE(m_board->childAt(gap), nullptr);
    QVERIFY(send(QEvent::DragEnter, m_board, gap, mime));
    QVERIFY(send(QEvent::Drop, m_board, gap, mime));
    QCOMPARE(titles(m_store->visibleThoughtsByStatus()[ThoughtStatus::notStarted]),
             (QStringList{"A", "D", "B"}));
}

QTEST_MAIN(TestDropTargets)
#include "tst_droptargets.moc"
