#include "BoardFixtures.h"
#include "BoardWindowFixture.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "board/KanbanDragState.h"
#include "stores/BoardStore.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(ThoughtStatus)

namespace {

enum class Clicks { single, twice };

constexpr int doubleClickInterval = 120;

} // namespace

Q_DECLARE_METATYPE(Clicks)

class TestKanbanBoard : public QObject, protected BoardWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void clickOpensEditorOnlyWhenNoSecondClickFollows_data();
    void clickOpensEditorOnlyWhenNoSecondClickFollows();
    void contextMenuMovesOrDeletes_data();
    void contextMenuMovesOrDeletes();
    void countsFollowTheSearch();
    void everyStatusKeepsItsColumn();
    void hoveringACardShowsTheOpenHand();
    void onlyCardsInViewAreLaidOut();
};

void TestKanbanBoard::initTestCase()
{
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(doubleClickInterval);
}

void TestKanbanBoard::init()
{
    m_persistence = RecordingPersistence();
}

void TestKanbanBoard::cleanup()
{
    resetBoard();
}

// A pointer move without buttons, as the window system sends it to a tracking widget.
static void hover(QWidget *widget, const QPoint &pos)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(pos), widget->mapToGlobal(QPointF(pos)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

static Board sampleBoard()
{
    Thought withNote = makeThought(QStringLiteral("B"));
    withNote.note = QStringLiteral("带一段备注");
    return {
        makeThought(QStringLiteral("A")),
        withNote,
        makeThought(QStringLiteral("C"), ThoughtStatus::inProgress),
        makeThought(QStringLiteral("D"), ThoughtStatus::archived),
    };
}

void TestKanbanBoard::clickOpensEditorOnlyWhenNoSecondClickFollows_data()
{
    QTest::addColumn<QString>("card");
    QTest::addColumn<Clicks>("clicks");
    QTest::addColumn<bool>("editorOpens");
    QTest::addColumn<ThoughtStatus>("statusAfter");
    QTest::addColumn<bool>("boardSaved");

    QTest::newRow("single click edits")
        << "B" << Clicks::single << true << ThoughtStatus::notStarted << false;
    QTest::newRow("double click advances")
        << "B" << Clicks::twice << false << ThoughtStatus::inProgress << true;
    QTest::newRow("double click in progress completes")
        << "C" << Clicks::twice << false << ThoughtStatus::completed << true;
    QTest::newRow("double click on archived changes nothing")
        << "D" << Clicks::twice << false << ThoughtStatus::archived << false;
}

void TestKanbanBoard::clickOpensEditorOnlyWhenNoSecondClickFollows()
{
    QFETCH(QString, card);
    QFETCH(Clicks, clicks);
    QFETCH(bool, editorOpens);
    QFETCH(ThoughtStatus, statusAfter);
    QFETCH(bool, boardSaved);

    showBoard(sampleBoard());
    const Thought clicked = thought(card);
    KanbanCardList *cards = list(clicked.status);
    const QPoint at = cards->cardRect(clicked.id).center();
    QSignalSpy editRequests(m_board, &KanbanBoardView::editRequested);

    if (clicks == Clicks::single)
        QTest::mouseClick(cards->viewport(), Qt::LeftButton, {}, at);
    else
        QTest::mouseDClick(cards->viewport(), Qt::LeftButton, {}, at);
    // Nothing opens before the double-click time has passed.
    QCOMPARE(editRequests.size(), 0);
    QTest::qWait(doubleClickInterval * 3);

    QCOMPARE(editRequests.size(), editorOpens ? 1 : 0);
    if (editorOpens)
        QCOMPARE(editRequests.first().first().value<Thought>(), clicked);
    const Thought after = thought(card);
    QCOMPARE(after.status, statusAfter);
    QCOMPARE(!m_persistence.saves.isEmpty(), boardSaved);
    if (statusAfter != clicked.status) {
        // An advanced card becomes the last one of the next column.
        QCOMPARE(m_store->visibleThoughtsByStatus()[statusAfter].last().id, clicked.id);
        QCOMPARE(after.updatedAt, fixtureNow());
    }
}

void TestKanbanBoard::contextMenuMovesOrDeletes_data()
{
    QTest::addColumn<QString>("card");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("notStartedAfter");
    QTest::addColumn<QStringList>("inProgressAfter");
    QTest::addColumn<bool>("deleted");

    QTest::newRow("own column: to its end")
        << "A"
        << "未开始" << QStringList{"B", "A"} << QStringList{"C"} << false;
    QTest::newRow("next column: to its end")
        << "A"
        << "进行中" << QStringList{"B"} << QStringList{"C", "A"} << false;
    QTest::newRow("back to the first column")
        << "C"
        << "未开始" << QStringList{"A", "B", "C"} << QStringList{} << false;
    QTest::newRow("delete") << "B"
                            << "删除" << QStringList{"A"} << QStringList{"C"} << true;
}

void TestKanbanBoard::contextMenuMovesOrDeletes()
{
    QFETCH(QString, card);
    QFETCH(QString, choice);
    QFETCH(QStringList, notStartedAfter);
    QFETCH(QStringList, inProgressAfter);
    QFETCH(bool, deleted);

    showBoard(sampleBoard());
    const Thought chosen = thought(card);
    KanbanCardList *cards = list(chosen.status);
    const QPoint at = cards->cardRect(chosen.id).center();

    QStringList offered;
    const QCursor *cursorInMenu = nullptr;
    QTimer pick;
    pick.setSingleShot(true);
    connect(&pick, &QTimer::timeout, this, [&] {
        cursorInMenu = QGuiApplication::overrideCursor();
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *action : menu->actions()) {
            offered.append(action->isSeparator() ? QStringLiteral("—") : action->text());
            if (action->text() == choice)
                action->trigger();
        }
        menu->close();
    });
    pick.start(0);
    hover(cards->viewport(), at);
    QVERIFY(QGuiApplication::overrideCursor());
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, cards->viewport()->mapToGlobal(at));
    QApplication::sendEvent(cards->viewport(), &event);

    QCOMPARE(offered, (QStringList{"未开始", "进行中", "已完成", "归档", "—", "删除"}));
    // The open hand stays with the card; the menu shows the ordinary pointer.
    QCOMPARE(cursorInMenu, nullptr);
    const ThoughtsByStatus visible = m_store->visibleThoughtsByStatus();
    QCOMPARE(titles(visible[ThoughtStatus::notStarted]), notStartedAfter);
    QCOMPARE(titles(visible[ThoughtStatus::inProgress]), inProgressAfter);
    // A deleted thought stays on the board as a tombstone.
    QCOMPARE(thought(card).isDeleted, deleted);
    QCOMPARE(m_persistence.saves.size(), 1);
}

void TestKanbanBoard::countsFollowTheSearch()
{
    Board board;
    for (int i = 0; i < 5; ++i)
        board.append(makeThought(QStringLiteral("灵感 %1").arg(i)));
    board.append(makeThought(QStringLiteral("整理灵感"), ThoughtStatus::completed));
    board.append(makeThought(QStringLiteral("别的事"), ThoughtStatus::completed));
    board.append(makeThought(QStringLiteral("已删"), ThoughtStatus::completed, 0, true));
    showBoard(board);

    const auto counts = [this] {
        QList<int> result;
        for (ThoughtStatus status : ThoughtStatuses::allCases)
            result.append(m_board->column(status)->count());
        return result;
    };
    QCOMPARE(counts(), (QList<int>{5, 0, 2, 0}));
    m_store->setSearchText(QStringLiteral("灵感"));
    QCOMPARE(counts(), (QList<int>{5, 0, 1, 0}));
    m_store->setSearchText(QStringLiteral("3"));
    QCOMPARE(counts(), (QList<int>{1, 0, 0, 0}));
    // A column title matches every card of that column.
    m_store->setSearchText(QStringLiteral("已完成"));
    QCOMPARE(counts(), (QList<int>{0, 0, 2, 0}));
    m_store->setSearchText(QStringLiteral("没有这个"));
    QCOMPARE(counts(), (QList<int>{0, 0, 0, 0}));
    for (ThoughtStatus status : ThoughtStatuses::allCases)
        QCOMPARE(list(status)->endZoneRect().height(), 118);
    m_store->setSearchText(QString());
    QCOMPARE(counts(), (QList<int>{5, 0, 2, 0}));
}

void TestKanbanBoard::everyStatusKeepsItsColumn()
{
    showBoard(Board{makeThought(QStringLiteral("only"), ThoughtStatus::completed)});
    auto *layout = m_board->layout();
    QCOMPARE(layout->count(), 4);
    int previousRight = -1;
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        KanbanColumn *column = m_board->column(status);
        QCOMPARE(layout->itemAt(int(status))->widget(), column);
        QCOMPARE(column->status(), status);
        // Equal widths, 14 apart, left to right in column order.
        QVERIFY(qAbs(column->width() - m_board->column(ThoughtStatus::notStarted)->width()) <= 1);
        if (previousRight >= 0)
            QCOMPARE(column->x() - previousRight, 14);
        previousRight = column->geometry().right() + 1;
    }
}

void TestKanbanBoard::hoveringACardShowsTheOpenHand()
{
    showBoard(sampleBoard());
    KanbanCardList *cards = list(ThoughtStatus::notStarted);
    const QRect a = cards->cardRect(thought(QStringLiteral("A")).id);
    const QRect b = cards->cardRect(thought(QStringLiteral("B")).id);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    hover(cards->viewport(), a.center());
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::OpenHandCursor);
    // Moving straight to the next card keeps one hand on the stack, not two.
    hover(cards->viewport(), b.center());
    hover(cards->viewport(), QPoint(b.center().x(), b.bottom() + 5));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    hover(cards->viewport(), a.center());
    QVERIFY(QGuiApplication::overrideCursor());
    // A card that leaves the column under the pointer gives the cursor back.
    m_store->deleteThought(thought(QStringLiteral("A")));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void TestKanbanBoard::onlyCardsInViewAreLaidOut()
{
    Board board;
    board.reserve(10000);
    for (int i = 0; i < 10000; ++i) {
        Thought t =
            makeThought(QStringLiteral("想法 %1：把一个稍长的标题写在卡片上，看它如何折行").arg(i),
                        ThoughtStatuses::allCases[size_t(i % 4)]);
        if (i % 3 == 0)
            t.note = QStringLiteral("备注 %1").arg(i);
        board.append(t);
    }
    showBoard(board);
    QTest::qWait(20);
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        KanbanCardList *cards = list(status);
        QCOMPARE(m_board->column(status)->count(), 2500);
        QVERIFY2(cards->laidOutCardCount() > 0, "the column painted no card");
        QVERIFY2(cards->laidOutCardCount() < 20,
                 qPrintable(QString::number(cards->laidOutCardCount())));
    }

    // Scrolled to the bottom, the last card is in view and still only a screenful was laid out.
    KanbanCardList *cards = list(ThoughtStatus::inProgress);
    const QUuid last = cards->thoughts().last().id;
    for (int attempt = 0; attempt < 3; ++attempt) {
        cards->verticalScrollBar()->setValue(cards->verticalScrollBar()->maximum());
        cards->viewport()->repaint();
    }
    // Page by page through hundreds of cards and back to the top: every page is drawn, however
    // many cards were laid out on the way.
    KanbanCardList *pages = list(ThoughtStatus::completed);
    for (int step = 0; step <= 80; ++step) {
        const int page = step < 80 ? step : 0;
        pages->verticalScrollBar()->setValue(page * pages->viewport()->height());
        const QImage shot = pages->viewport()->grab().toImage();
        const qsizetype firstInView = [&] {
            for (qsizetype i = 0; i < pages->thoughts().size(); ++i) {
                const QRect rect = pages->cardRect(pages->thoughts()[i].id);
                if (rect.top() >= 0)
                    return i;
            }
            return qsizetype(-1);
        }();
        QVERIFY(firstInView >= 0);
        const QRect card = pages->cardRect(pages->thoughts()[firstInView].id);
        QVERIFY2(shot.pixel(card.center()) != shot.pixel(card.center().x(), card.bottom() + 5),
                 qPrintable(QStringLiteral("page %1 not drawn").arg(page)));
    }

    const QRect lastRect = cards->cardRect(last);
    QVERIFY(cards->viewport()->rect().contains(lastRect));
    QVERIFY2(cards->laidOutCardCount() < 40,
             qPrintable(QString::number(cards->laidOutCardCount())));
}

QTEST_MAIN(TestKanbanBoard)
#include "tst_kanbanboard.moc"
