#include "BoardFixtures.h"
#include "BoardHistory.h"
#include "CloudFakes.h"
#include "services/ThoughtSyncMerge.h"
#include "stores/BoardSnapshots.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using StoreChange = Machine::Change;
Q_DECLARE_METATYPE(StoreChange)

namespace {

const Board start = {
    makeThought("A"), makeThought("B"), makeThought("C", ThoughtStatus::inProgress),
    makeThought("D", ThoughtStatus::completed), makeThought("E", ThoughtStatus::completed)};

/// What the person sees: the live thoughts without the times undo moves on, in board order or
/// sorted where a merge keeps each machine's own order.
QStringList seen(const Board &board, bool sorted = false)
{
    QStringList rows;
    for (const Thought &t : board) {
        if (!t.isDeleted)
            rows.append(uuidText(t.id) + t.title + t.note + ThoughtStatuses::rawValue(t.status));
    }
    if (sorted)
        rows.sort();
    return rows;
}

/// One machine with its history, linked to a cloud of its own; time moves a second per change.
struct HistoryMachine
{
    std::shared_ptr<MemoryCloud> cloud = std::make_shared<MemoryCloud>();
    Machine sync{start, std::make_unique<MemoryCloudStore>(cloud), nullptr, [](BoardStore &s) {
                     s.setClock([tick = 0]() mutable { return fixtureNow().addSecs(++tick); });
                 }};
    BoardStore &store = *sync.store;
    BoardHistory history{&store};

    void settle()
    {
        sync.change([](BoardStore &) {});
    }
};

} // namespace

class UndoTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void undoAndRedoEveryChange_data();
    void undoAndRedoEveryChange();
    void mergeDropsTheStepsItChanged_data();
    void mergeDropsTheStepsItChanged();
    void textFieldsKeepTheirOwnUndo();
    void restoreWinsTheNextMerge();
    void snapshotsKeepTheNewestAndTheFirstOfEachDay_data();
    void snapshotsKeepTheNewestAndTheFirstOfEachDay();
    void snapshotBeforeTheFirstSaveOfEachLaunchAndDay();
};

void UndoTest::undoAndRedoEveryChange_data()
{
    QTest::addColumn<StoreChange>("change");
    QTest::addColumn<QString>("label");
    const auto row = [](const char *name, const QString &label, StoreChange change) {
        QTest::newRow(name) << change << label;
    };
    const ThoughtStatus notStarted = ThoughtStatus::notStarted;
    row("add", "添加", [](BoardStore &s) { s.addQuickThought(" 新想法 "); });
    row("edit", "编辑", [](BoardStore &s) { s.update(start[2], "C2", "笔记", notStarted); });
    row("delete", "删除", [](BoardStore &s) { s.deleteThought(start[1]); });
    row("reorder", "移动", [](BoardStore &s) { s.move(start[1].id, notStarted, start[0].id); });
    row("across", "移动", [](BoardStore &s) { s.move(start[4].id, notStarted, start[1].id); });
    row("advance", "移动", [](BoardStore &s) { s.advance(start[0].id); });
    row("archive all", "归档已完成", [](BoardStore &s) { s.archiveCompleted(); });
    row("no-op edit", "", [](BoardStore &s) { s.update(start[0], "A", "", notStarted); });
}

void UndoTest::undoAndRedoEveryChange()
{
    QFETCH(StoreChange, change);
    QFETCH(QString, label);
    HistoryMachine machine;
    QAction *undo = machine.history.undoAction();
    QAction *redo = machine.history.redoAction();
    change(machine.store);
    machine.settle();
    const Board changed = machine.store.thoughts();
    QCOMPARE(undo->isEnabled(), !label.isEmpty());
    if (label.isEmpty())
        return;
    QCOMPARE(undo->text(), "撤销 " + label);
    undo->trigger();
    machine.settle();
    const Board undone = machine.store.thoughts();
    QCOMPARE(seen(undone), seen(start));
    QCOMPARE(machine.cloud->record.board, undone);
    // A machine that still holds the change takes the undone board from the cloud.
    QCOMPARE(seen(ThoughtSyncMerge::merge(changed, undone), true), seen(start, true));
    QCOMPARE(redo->text(), "重做 " + label);
    redo->trigger();
    machine.settle();
    QCOMPARE(seen(machine.store.thoughts()), seen(changed));
    QCOMPARE(seen(ThoughtSyncMerge::merge(undone, machine.cloud->record.board), true),
             seen(changed, true));
}

void UndoTest::mergeDropsTheStepsItChanged_data()
{
    QTest::addColumn<bool>("undoneBefore");
    QTest::newRow("both steps done") << false;
    QTest::newRow("the step on B undone before the merge") << true;
}

void UndoTest::mergeDropsTheStepsItChanged()
{
    QFETCH(bool, undoneBefore);
    HistoryMachine machine;
    machine.store.advance(start[0].id);
    machine.store.update(start[1], "B2", "", ThoughtStatus::notStarted);
    machine.settle();
    if (undoneBefore) {
        machine.history.undoAction()->trigger();
        machine.settle();
    }
    // Another machine renames A later; this machine catches up with it.
    Board elsewhere = machine.cloud->record.board;
    elsewhere[2].title = "A 在别处改过";
    elsewhere[2].updatedAt = fixtureNow().addSecs(60);
    machine.cloud->writeFromElsewhere(elsewhere);
    machine.sync.service->catchUp();
    machine.settle();
    // The step on A is gone; the one on B stays as it was, done or undone.
    QCOMPARE(machine.history.undoAction()->isEnabled(), !undoneBefore);
    QCOMPARE(machine.history.redoAction()->isEnabled(), undoneBefore);
    (undoneBefore ? machine.history.redoAction() : machine.history.undoAction())->trigger();
    machine.settle();
    QVERIFY(!machine.history.undoAction()->isEnabled() || undoneBefore);
    const Board board = machine.cloud->record.board;
    QCOMPARE(titles(board),
             QStringList({undoneBefore ? "B2" : "B", "C", "A 在别处改过", "D", "E"}));
    QCOMPARE(board[2].status, ThoughtStatus::inProgress);
}

void UndoTest::textFieldsKeepTheirOwnUndo()
{
    HistoryMachine machine;
    QAction *undo = machine.history.undoAction();
    QLineEdit field;
    field.show();
    QVERIFY(QTest::qWaitForWindowActive(&field));
    // The keys as the platform hands them to the actions when the field does not claim them.
    const auto press = [](QAction *action) {
        QShortcutEvent shortcut(action->shortcut(), 0);
        QCoreApplication::sendEvent(action, &shortcut);
    };
    machine.store.archiveCompleted();
    QTest::keyClicks(&field, "ab");
    press(undo);
    QCOMPARE(field.text(), "");
    undo->trigger();
    press(machine.history.redoAction());
    QCOMPARE(field.text(), "ab");
    QVERIFY(!undo->isEnabled());
}

void UndoTest::restoreWinsTheNextMerge()
{
    HistoryMachine machine;
    machine.store.addQuickThought("C2");
    machine.store.update(start[0], "A2", "", ThoughtStatus::completed);
    machine.store.deleteThought(start[1]);
    const Board changed = machine.store.thoughts();
    machine.store.restore(BoardSnapshots::restored(changed, start));
    machine.settle();
    QCOMPARE(seen(machine.cloud->record.board), seen(start));
    // A machine that still holds the changes takes the restored board from the cloud.
    QCOMPARE(seen(ThoughtSyncMerge::merge(changed, machine.cloud->record.board), true),
             seen(start, true));
}

void UndoTest::snapshotsKeepTheNewestAndTheFirstOfEachDay_data()
{
    // Snapshots by how many hours before the one taken now, at 09:00.
    QTest::addColumn<QList<int>>("hoursAgo");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("dropped");
    QTest::newRow("ten newest, then the first of a day")
        << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 25, 26, 27} << qint64(2) << QList<int>{26};
    QTest::newRow("thirty days") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 24 * 29 + 1, 24 * 30 + 1}
                                 << qint64(2) << QList<int>{24 * 30 + 1};
    QTest::newRow("50 MiB, oldest out first")
        << QList<int>{1, 2, 3} << qint64(20 << 20) << QList<int>{3};
    // The board itself that large: its newest snapshot may be the only way back.
    QTest::newRow("a newest past 50 MiB stays, alone")
        << QList<int>{1} << qint64(51 << 20) << QList<int>{1};
}

void UndoTest::snapshotsKeepTheNewestAndTheFirstOfEachDay()
{
    QFETCH(QList<int>, hoursAgo);
    QFETCH(qint64, size);
    QFETCH(QList<int>, dropped);
    const auto idAt = [](int hours) {
        return fixtureNow().addSecs(-3600 * hours).toString("yyyyMMdd-HHmmss");
    };
    const QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("snapshots"));
    QStringList expected = {idAt(0)};
    for (int hours : hoursAgo) {
        QFile file(dir.filePath("snapshots/board-" + idAt(hours) + ".json"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        if (!dropped.contains(hours))
            expected.append(idAt(hours));
    }
    BoardPersistence::file(dir.filePath("board.json")).save({makeThought("A")});
    if (size > BoardSnapshots::maxTotalSize)
        QVERIFY(QFile::resize(dir.filePath("board.json"), size));
    BoardSnapshots snapshots(dir.filePath("board.json"));
    QCOMPARE(snapshots.take(fixtureNow()), idAt(0));
    QStringList ids;
    for (const BoardSnapshots::Snapshot &snapshot : snapshots.list())
        ids.append(snapshot.id);
    QCOMPARE(ids, expected);
}

void UndoTest::snapshotBeforeTheFirstSaveOfEachLaunchAndDay()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath("board.json");
    const BoardSnapshots snapshots(path);
    QDateTime now = fixtureNow();
    BoardPersistence persistence;
    const Board a = {makeThought("A")}, b = {makeThought("B")};
    // A launch or not, hours on, the board saved; then how many snapshots, the newest holding what.
    using Step = std::tuple<bool, int, Board, qsizetype, Board>;
    for (const auto &[launch, hours, saved, count, newest] :
         {Step{true, 0, a, 0, {}}, Step{false, 1, b, 0, {}}, Step{true, 1, a, 1, b},
          Step{false, 1, a, 1, b}, Step{false, 24, b, 2, a}, Step{true, 0, b, 3, b},
          Step{true, 0, b, 3, b}}) {
        if (launch)
            persistence = BoardSnapshots::guarding(
                BoardPersistence::file(path), [path] { return path; }, [&now] { return now; });
        now = now.addSecs(3600 * hours);
        persistence.save(saved);
        QCOMPARE(snapshots.list().size(), count);
        if (count > 0)
            QCOMPARE(snapshots.board(snapshots.list().first().id), newest);
    }
}

QTEST_MAIN(UndoTest)
#include "tst_undo.moc"
