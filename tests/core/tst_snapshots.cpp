#include "BoardFixtures.h"
#include "services/ThoughtSyncMerge.h"
#include "stores/BoardCodec.h"
#include "stores/BoardSnapshots.h"
#include "stores/BoardStore.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

void write(const QString &path, const QByteArray &data, qint64 size = 0)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
    if (size > 0)
        QVERIFY(file.resize(size));
}

QString idAt(const QDateTime &time)
{
    return time.toString("yyyyMMdd-HHmmss");
}

} // namespace

class SnapshotsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void keepsTheNewestAndTheFirstOfEachDay_data();
    void keepsTheNewestAndTheFirstOfEachDay();
    void takesOneBeforeTheFirstSaveOfEachLaunchAndDay();
    void restoreWinsTheNextMerge();
};

void SnapshotsTest::keepsTheNewestAndTheFirstOfEachDay_data()
{
    // Snapshots by how many hours before the one taken now (09:00, 0 hours ago).
    QTest::addColumn<QList<int>>("hoursAgo");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("kept");

    QTest::newRow("ten newest, then the first of each day")
        << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 25, 26, 27} << qint64(2)
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 25, 27};
    QTest::newRow("thirty days") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 24 * 29 + 1, 24 * 30 + 1}
                                 << qint64(2)
                                 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 24 * 29 + 1};
    QTest::newRow("50 MiB, oldest out first")
        << QList<int>{1, 2, 3} << qint64(20 * 1024 * 1024) << QList<int>{0, 1, 2};
}

void SnapshotsTest::keepsTheNewestAndTheFirstOfEachDay()
{
    QFETCH(QList<int>, hoursAgo);
    QFETCH(qint64, size);
    QFETCH(QList<int>, kept);
    const QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("snapshots"));
    for (int hours : hoursAgo)
        write(
            dir.filePath("snapshots/board-" + idAt(fixtureNow().addSecs(-3600 * hours)) + ".json"),
            "[]", size);
    write(dir.filePath("board.json"), BoardCodec::encode({makeThought("A")}));

    BoardSnapshots snapshots(dir.filePath("board.json"));
    QCOMPARE(snapshots.take(fixtureNow()), idAt(fixtureNow()));
    QStringList expected;
    for (int hours : kept)
        expected.append(idAt(fixtureNow().addSecs(-3600 * hours)));
    QStringList ids;
    for (const BoardSnapshots::Snapshot &snapshot : snapshots.list())
        ids.append(snapshot.id);
    QCOMPARE(ids, expected);
}

void SnapshotsTest::takesOneBeforeTheFirstSaveOfEachLaunchAndDay()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath("board.json");
    QDateTime now = fixtureNow();
    const auto launch = [&] {
        return BoardSnapshots::guarding(
            BoardPersistence::file(path), [path] { return path; }, [&now] { return now; });
    };
    const Board a = {makeThought("A")}, b = {makeThought("B")}, c = {makeThought("C")};
    const BoardSnapshots snapshots(path);
    const auto newest = [&] { return snapshots.board(snapshots.list().first().id); };

    BoardPersistence persistence = launch();
    persistence.save(a);
    persistence.save(b);
    QCOMPARE(snapshots.list().size(), 0);
    persistence = launch();
    now = now.addSecs(60);
    persistence.save(c);
    persistence.save(a);
    QCOMPARE(snapshots.list().size(), 1);
    QCOMPARE(newest(), b);
    now = now.addDays(1);
    persistence.save(b);
    QCOMPARE(snapshots.list().size(), 2);
    QCOMPARE(newest(), a);
    // Launches that leave the board as it was add one snapshot of it, not one each.
    for (int launches = 0; launches < 3; ++launches) {
        persistence = launch();
        persistence.save(b);
    }
    QCOMPARE(snapshots.list().size(), 3);
}

void SnapshotsTest::restoreWinsTheNextMerge()
{
    const Board yesterday = {makeThought("A"), makeThought("B")};
    Board today = yesterday;
    today[0].title = "A 改过";
    today[1].isDeleted = true;
    today.append(makeThought("C"));
    for (Thought &thought : today)
        thought.updatedAt = fixtureNow().addSecs(60);
    RecordingPersistence file;
    file.stored = today;
    BoardStore store(file.persistence());
    store.setClock([] { return fixtureNow().addSecs(120); });

    store.restore(BoardSnapshots::restored(store.thoughts(), yesterday));
    const auto live = [](Board board) {
        board.removeIf([](const Thought &thought) { return thought.isDeleted; });
        return titles(board);
    };
    QCOMPARE(live(*file.stored), QStringList({"A", "B"}));
    // A machine that still holds today's board takes the restored one from the cloud.
    QCOMPARE(live(ThoughtSyncMerge::merge(today, store.thoughts())), QStringList({"A", "B"}));
}

QTEST_GUILESS_MAIN(SnapshotsTest)
#include "tst_snapshots.moc"
