#include "BoardFixtures.h"
#include "BoardHistory.h"
#include "CloudFakes.h"
#include "services/ThoughtSyncMerge.h"

#include <QAction>
#include <QTest>
#include <QUndoStack>

/// A change made through the store; it finds its thoughts by title on the starting board.
using StoreChange = std::function<void(BoardStore &, const Board &)>;
Q_DECLARE_METATYPE(StoreChange)

namespace {

/// What the person sees of a board: the live thoughts in order, without the times undo moves on.
QStringList seen(const Board &board)
{
    QStringList rows;
    for (const Thought &t : board) {
        if (!t.isDeleted)
            rows.append(uuidText(t.id) + t.title + t.note + ThoughtStatuses::rawValue(t.status));
    }
    return rows;
}

/// The same, whatever the order: a merge keeps each machine's own order.
QStringList seenInAnyOrder(const Board &board)
{
    QStringList rows = seen(board);
    rows.sort();
    return rows;
}

Thought named(const Board &board, const QString &title)
{
    for (const Thought &thought : board) {
        if (thought.title == title)
            return thought;
    }
    return {};
}

/// One machine with its history, linked to a shared cloud; time moves a second per change.
struct Machine
{
    std::shared_ptr<MemoryCloud> cloud = std::make_shared<MemoryCloud>();
    RecordingPersistence file;
    ManualDelays delays;
    std::unique_ptr<BoardStore> store;
    SyncService service{std::make_unique<MemoryCloudStore>(cloud)};
    std::unique_ptr<BoardHistory> history;
    int tick = 0;

    explicit Machine(const Board &board)
    {
        file.stored = board;
        store = std::make_unique<BoardStore>(file.persistence());
        store->setClock([this] { return fixtureNow().addSecs(++tick); });
        history = std::make_unique<BoardHistory>(store.get());
        service.setStartDelay(delays.startDelay());
        store->startSync(&service);
        settle();
    }
    void settle()
    {
        delays.advance(SyncService::quietPeriod);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }
    void trigger(QAction *action)
    {
        action->trigger();
        settle();
    }
};

const Board startBoard = {
    makeThought("A"), makeThought("B"), makeThought("C", ThoughtStatus::inProgress),
    makeThought("D", ThoughtStatus::completed), makeThought("E", ThoughtStatus::completed)};

} // namespace

class UndoTest : public QObject
{
    Q_OBJECT

private slots:
    void undoAndRedoEveryChange_data();
    void undoAndRedoEveryChange();
    void mergeDropsTheStepsItChanged();
};

void UndoTest::undoAndRedoEveryChange_data()
{
    QTest::addColumn<StoreChange>("change");
    QTest::addColumn<QString>("label");

    QTest::newRow("add") << StoreChange([](BoardStore &s, const Board &) {
        s.addQuickThought(" 新想法 ");
    }) << "添加";
    QTest::newRow("edit") << StoreChange([](BoardStore &s, const Board &b) {
        s.update(named(b, "C"), "C2", "笔记", ThoughtStatus::completed);
    }) << "编辑";
    QTest::newRow("delete") << StoreChange([](BoardStore &s, const Board &b) {
        s.deleteThought(named(b, "B"));
    }) << "删除";
    QTest::newRow("reorder") << StoreChange([](BoardStore &s, const Board &b) {
        s.move(named(b, "B").id, ThoughtStatus::notStarted, named(b, "A").id);
    }) << "移动";
    QTest::newRow("move to another column") << StoreChange([](BoardStore &s, const Board &b) {
        s.move(named(b, "E").id, ThoughtStatus::notStarted, named(b, "B").id);
    }) << "移动";
    QTest::newRow("advance") << StoreChange([](BoardStore &s, const Board &b) {
        s.advance(named(b, "A").id);
    }) << "移动";
    QTest::newRow("archive all") << StoreChange([](BoardStore &s, const Board &) {
        s.archiveCompleted();
    }) << "归档已完成";
    QTest::newRow("unchanged edit is no step") << StoreChange([](BoardStore &s, const Board &b) {
        s.update(named(b, "A"), "A", "", ThoughtStatus::notStarted);
    }) << "";
}

void UndoTest::undoAndRedoEveryChange()
{
    QFETCH(StoreChange, change);
    QFETCH(QString, label);
    Machine machine(startBoard);
    QAction *undo = machine.history->undoAction();
    QAction *redo = machine.history->redoAction();
    QVERIFY(!undo->isEnabled());

    change(*machine.store, startBoard);
    machine.settle();
    const Board changed = machine.store->thoughts();
    QCOMPARE(undo->isEnabled(), !label.isEmpty());
    if (label.isEmpty())
        return;
    QCOMPARE(undo->text(), "撤销 " + label);

    machine.trigger(undo);
    const Board undone = machine.store->thoughts();
    QCOMPARE(seen(undone), seen(startBoard));
    QCOMPARE(*machine.file.stored, undone);
    QCOMPARE(machine.cloud->record.board, undone);
    // A machine that still holds the change takes the undone board from the cloud.
    QCOMPARE(seenInAnyOrder(ThoughtSyncMerge::merge(changed, undone)), seenInAnyOrder(startBoard));
    QVERIFY(!undo->isEnabled());
    QCOMPARE(redo->text(), "重做 " + label);

    machine.trigger(redo);
    QCOMPARE(seen(machine.store->thoughts()), seen(changed));
    QCOMPARE(seenInAnyOrder(ThoughtSyncMerge::merge(undone, machine.cloud->record.board)),
             seenInAnyOrder(changed));
    QCOMPARE(undo->text(), "撤销 " + label);
}

void UndoTest::mergeDropsTheStepsItChanged()
{
    Machine machine(startBoard);
    machine.store->advance(named(startBoard, "A").id);
    machine.store->update(named(startBoard, "B"), "B2", "", ThoughtStatus::notStarted);
    machine.settle();

    // Another machine renames A later; this machine catches up with it.
    Board elsewhere = machine.cloud->record.board;
    for (Thought &thought : elsewhere) {
        if (thought.title == "A") {
            thought.title = "A 在别处改过";
            thought.updatedAt = fixtureNow().addSecs(60);
        }
    }
    machine.cloud->writeFromElsewhere(elsewhere);
    machine.service.catchUp();
    machine.settle();
    QCOMPARE(machine.history->stack()->count(), 1);

    machine.trigger(machine.history->undoAction());
    QVERIFY(!machine.history->undoAction()->isEnabled());
    const Board board = machine.cloud->record.board;
    QCOMPARE(named(board, "A 在别处改过").status, ThoughtStatus::inProgress);
    QCOMPARE(named(board, "B").id, named(startBoard, "B").id);

    // The history lives in memory: a restart finds the undone board and nothing to undo.
    BoardStore restarted(machine.file.persistence());
    BoardHistory fresh(&restarted);
    QCOMPARE(restarted.thoughts(), board);
    QVERIFY(!fresh.undoAction()->isEnabled());
}

QTEST_MAIN(UndoTest)
#include "tst_undo.moc"
