#include "BoardFixtures.h"
#include "services/SyncService.h"
#include "stores/BoardStore.h"

#include <QTest>

namespace {

/// A sync service that only records what the store hands it.
class RecordingSyncService : public SyncService
{
public:
    void start(const Board &localThoughts, ApplyRemote applyRemote, LocalBoard origin) override
    {
        startedWith.append(localThoughts);
        apply = std::move(applyRemote);
        origins.append(origin);
    }
    void scheduleUpload(const Board &board) override { uploads.append(board); }

    QList<Board> startedWith;
    QList<LocalBoard> origins;
    ApplyRemote apply;
    QList<Board> uploads;
};

using StoreOperation = std::function<void(BoardStore &)>;

} // namespace

Q_DECLARE_METATYPE(StoreOperation)

class StoreSyncLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheFirstStartSyncLinks();
    void onlyAnUntouchedSampleBoardIsOfferedAsSamples();
    void appliedRemoteBoardIsSavedButNotUploaded();
    void everySavingOperationSchedulesOneUpload_data();
    void everySavingOperationSchedulesOneUpload();
};

void StoreSyncLinkTest::onlyTheFirstStartSyncLinks()
{
    RecordingPersistence file;
    file.stored = Board{makeThought(QStringLiteral("saved"))};
    BoardStore store(file.persistence());
    store.addQuickThought(QStringLiteral("before sync"));

    RecordingSyncService first;
    RecordingSyncService second;
    store.startSync(&first);
    store.startSync(&second);

    QCOMPARE(first.startedWith, QList<Board>{store.thoughts()});
    QCOMPARE(titles(first.startedWith.first()),
             (QStringList{QStringLiteral("before sync"), QStringLiteral("saved")}));
    QCOMPARE(first.origins, QList<SyncService::LocalBoard>{SyncService::LocalBoard::own});
    QVERIFY(first.uploads.isEmpty());
    QVERIFY(second.startedWith.isEmpty());

    store.addQuickThought(QStringLiteral("after sync"));
    QCOMPARE(first.uploads.size(), 1);
    QVERIFY(second.uploads.isEmpty());
}

void StoreSyncLinkTest::onlyAnUntouchedSampleBoardIsOfferedAsSamples()
{
    using Origin = SyncService::LocalBoard;
    for (const bool touched : {false, true}) {
        RecordingPersistence nothingSaved;
        BoardStore store(nothingSaved.persistence());
        if (touched)
            store.move(store.thoughts().first().id, ThoughtStatus::completed, std::nullopt);
        RecordingSyncService service;
        store.startSync(&service);
        QCOMPARE(service.origins, QList<Origin>{touched ? Origin::own : Origin::untouchedSamples});
    }
}

void StoreSyncLinkTest::appliedRemoteBoardIsSavedButNotUploaded()
{
    RecordingPersistence file;
    file.stored = Board{makeThought(QStringLiteral("local"))};
    BoardStore store(file.persistence());
    RecordingSyncService service;
    store.startSync(&service);

    const Board merged{makeThought(QStringLiteral("remote"), ThoughtStatus::completed),
                       makeThought(QStringLiteral("gone"), ThoughtStatus::notStarted, 0, true),
                       file.stored->first()};
    service.apply(merged);

    QCOMPARE(store.thoughts(), merged);
    QCOMPARE(file.stored, std::optional<Board>(merged));
    QVERIFY(service.uploads.isEmpty());
}

void StoreSyncLinkTest::everySavingOperationSchedulesOneUpload_data()
{
    QTest::addColumn<StoreOperation>("operation");

    // The board holds a live thought "A" (completed) and a tombstone, which uploads must carry.
    QTest::newRow("add") << StoreOperation(
        [](BoardStore &store) { store.addQuickThought(QStringLiteral("new")); });
    QTest::newRow("update") << StoreOperation([](BoardStore &store) {
        store.update(store.thoughts().first(), QStringLiteral("renamed"), QString(),
                     ThoughtStatus::inProgress);
    });
    QTest::newRow("delete") << StoreOperation(
        [](BoardStore &store) { store.deleteThought(store.thoughts().first()); });
    QTest::newRow("archive") << StoreOperation([](BoardStore &store) { store.archiveCompleted(); });
    QTest::newRow("move") << StoreOperation([](BoardStore &store) {
        store.move(store.thoughts().first().id, ThoughtStatus::notStarted, std::nullopt);
    });
    QTest::newRow("advance") << StoreOperation(
        [](BoardStore &store) { store.advance(store.thoughts().first().id); });
}

void StoreSyncLinkTest::everySavingOperationSchedulesOneUpload()
{
    QFETCH(StoreOperation, operation);

    RecordingPersistence file;
    file.stored = Board{makeThought(QStringLiteral("A"), ThoughtStatus::completed),
                        makeThought(QStringLiteral("deleted"), ThoughtStatus::completed, 0, true)};
    BoardStore store(file.persistence());
    RecordingSyncService service;
    store.startSync(&service);

    operation(store);

    QCOMPARE(service.uploads.size(), 1);
    QCOMPARE(service.uploads.first(), store.thoughts());
    QCOMPARE(file.stored, std::optional<Board>(store.thoughts()));
    QVERIFY(std::any_of(store.thoughts().cbegin(), store.thoughts().cend(),
                        [](const Thought &thought) { return thought.isDeleted; }));
}

QTEST_GUILESS_MAIN(StoreSyncLinkTest)
#include "tst_storesynclink.moc"
