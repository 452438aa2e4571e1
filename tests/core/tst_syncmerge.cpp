#include "BoardFixtures.h"
#include "services/ThoughtSyncMerge.h"

#include <QTest>

namespace {

QUuid idFor(char name)
{
    return QUuid(0x10000000u + uint(name), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

/// The thought named \a name at a version: its title says which version it is.
Thought version(char name, const QString &title, qint64 updatedOffsetMs,
                ThoughtStatus status = ThoughtStatus::notStarted, bool isDeleted = false)
{
    return Thought{idFor(name),
                   title,
                   QString(),
                   status,
                   fixtureNow().addSecs(-3600),
                   fixtureNow().addMSecs(updatedOffsetMs),
                   isDeleted};
}

} // namespace

class SyncMergeTest : public QObject
{
    Q_OBJECT

private slots:
    void mergesByNewestEditPerThought_data();
    void mergesByNewestEditPerThought();
    void repeatedLocalIdsCollapseInsteadOfFailing();
};

void SyncMergeTest::mergesByNewestEditPerThought_data()
{
    QTest::addColumn<Board>("local");
    QTest::addColumn<Board>("remote");
    QTest::addColumn<Board>("expected");

    const Thought a = version('A', QString("A local"), 0);
    const Thought b = version('B', QString("B local"), 0);
    const Thought c = version('C', QString("C local"), 0);

    QTest::newRow("both empty") << Board() << Board() << Board();
    QTest::newRow("no cloud board keeps local as is")
        << Board{a, b, c} << Board() << Board{a, b, c};

    const Thought x1 = version('X', QString("X first"), 0);
    const Thought x2 = version('X', QString("X newer"), 5000);
    const Thought x3 = version('X', QString("X same time as newer"), 5000);
    const Thought y = version('Y', QString("Y"), 0);
    QTest::newRow("only cloud: repeats collapse at first position, newest wins, first of a tie")
        << Board() << Board{x1, y, x2, x3} << Board{x2, y};
    QTest::newRow("cloud-only thoughts follow local ones in cloud order")
        << Board{a} << Board{y, x1} << Board{a, y, x1};

    const Thought aNewer = version('A', QString("A remote"), 1000);
    QTest::newRow("remote one second later wins at the local position")
        << Board{b, a, c} << Board{aNewer} << Board{b, aNewer, c};

    const Thought aSameTime = version('A', QString("A remote"), 0);
    QTest::newRow("tie keeps local") << Board{a} << Board{aSameTime} << Board{a};

    const Thought aOlderTombstone =
        version('A', QString("A remote"), -1000, ThoughtStatus::notStarted, true);
    QTest::newRow("older remote tombstone loses") << Board{a} << Board{aOlderTombstone} << Board{a};
    const Thought aNewerTombstone =
        version('A', QString("A remote"), 1000, ThoughtStatus::notStarted, true);
    QTest::newRow("newer remote tombstone deletes the local card")
        << Board{a, b} << Board{aNewerTombstone} << Board{aNewerTombstone, b};
    QTest::newRow("cloud-only tombstone is carried along")
        << Board{b} << Board{aNewerTombstone} << Board{b, aNewerTombstone};

    const Thought aLocalTombstone =
        version('A', QString("A local"), 2000, ThoughtStatus::notStarted, true);
    const Thought aLiveOlder = version('A', QString("A remote"), 1000);
    QTest::newRow("newer local tombstone stays deleted")
        << Board{aLocalTombstone} << Board{aLiveOlder} << Board{aLocalTombstone};
    const Thought aLiveNewer = version('A', QString("A remote"), 3000);
    QTest::newRow("newer live remote revives a local tombstone")
        << Board{aLocalTombstone} << Board{aLiveNewer} << Board{aLiveNewer};

    const Thought aCompleted = version('A', QString("A remote"), 1000, ThoughtStatus::completed);
    QTest::newRow("remote status change keeps the local array position")
        << Board{a, b} << Board{b, aCompleted} << Board{aCompleted, b};

    const Thought xLater = version('X', QString("X newer"), 1000);
    QTest::newRow("repeated cloud-only id: newer version, first position")
        << Board{a} << Board{x1, y, xLater} << Board{a, xLater, y};

    const Thought aSubSecond = version('A', QString("A local"), 700);
    const Thought aWholeSecond = version('A', QString("A remote"), 0);
    QTest::newRow("whole-second cloud copy does not beat the sub-second local edit")
        << Board{aSubSecond} << Board{aWholeSecond} << Board{aSubSecond};

    Thought aRemoteEveryField = version('A', QString("A remote"), 1000, ThoughtStatus::archived);
    aRemoteEveryField.note = QString("remote note");
    aRemoteEveryField.createdAt = fixtureNow().addDays(-10);
    QTest::newRow("winner is taken whole")
        << Board{a} << Board{aRemoteEveryField} << Board{aRemoteEveryField};
}

void SyncMergeTest::mergesByNewestEditPerThought()
{
    QFETCH(Board, local);
    QFETCH(Board, remote);
    QFETCH(Board, expected);

    const Board merged = ThoughtSyncMerge::merge(local, remote);

    QCOMPARE(titles(merged), titles(expected));
    QCOMPARE(merged, expected);
}

void SyncMergeTest::repeatedLocalIdsCollapseInsteadOfFailing()
{
    const Thought first = version('A', QString("A first"), 0);
    const Thought newer = version('A', QString("A newer"), 1000);
    const Thought b = version('B', QString("B"), 0);

    QCOMPARE(titles(ThoughtSyncMerge::merge({first, b, newer}, {})),
             (QStringList{QString("A newer"), QString("B")}));
}

QTEST_GUILESS_MAIN(SyncMergeTest)
#include "tst_syncmerge.moc"
