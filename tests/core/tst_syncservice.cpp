#include "BoardFixtures.h"
#include "CloudFakes.h"
#include "services/SyncService.h"

#include <QElapsedTimer>
#include <QTest>

using namespace std::chrono_literals;

namespace {

QString describe(const SyncService::State &state)
{
    switch (state.kind) {
    case SyncService::State::Kind::localOnly:
        return QStringLiteral("localOnly");
    case SyncService::State::Kind::cloudKitReady:
        return QStringLiteral("ready");
    case SyncService::State::Kind::syncing:
        return QStringLiteral("syncing");
    case SyncService::State::Kind::failed:
        return QStringLiteral("failed:") + state.message;
    }
    return {};
}

/// A sync service over an in-memory cloud, with its quiet period on a hand-moved clock and every
/// state it passes through recorded.
struct Harness
{
    std::shared_ptr<CloudScript> cloud = std::make_shared<CloudScript>();
    ManualDelays delays;
    std::unique_ptr<SyncService> service;
    QStringList states;
    QList<Board> applied;

    explicit Harness(bool withCloud = true)
    {
        service = std::make_unique<SyncService>(withCloud ? std::make_unique<FakeCloudStore>(cloud)
                                                          : nullptr);
        service->setStartDelay(delays.startDelay());
        QObject::connect(service.get(), &SyncService::stateChanged, service.get(),
                         [this] { states.append(describe(service->state())); });
    }

    SyncService::ApplyRemote applyAction()
    {
        return [this](const Board &board) {
            cloud->log.append(QStringLiteral("apply"));
            applied.append(board);
        };
    }

    /// Lets every answer the cloud gives "at once" arrive.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
};

const CloudError decodingError{CloudErrorCode::invalidRecord, QStringLiteral("看板数据无法读取")};
const CloudError refused{CloudErrorCode::notAuthenticated, QStringLiteral("密码被拒绝")};
const CloudError changedOnServer{CloudErrorCode::serverRecordChanged,
                                 QStringLiteral("记录已被修改")};

} // namespace

class SyncServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void pullOrdersAccountFetchMergeApplySave_data();
    void pullOrdersAccountFetchMergeApplySave();
    void startRunsOnlyOnce();
    void withoutCloudStoreEverythingStaysLocal();
    void burstOfChangesUploadsTheLastBoardOnce();
    void cancellingEndsAWaitingUploadButNotASavingOne();
    void lastUploadToFinishSetsTheState();
    void changeDuringThePullIsMergedNotLost();
    void uploadAfterAFailedPullPullsAgain();
    void destroyingTheServiceWithAnswersOutstandingIsSafe();
    void quietPeriodRunsOnARealTimerByDefault();
};

void SyncServiceTest::pullOrdersAccountFetchMergeApplySave_data()
{
    QTest::addColumn<CloudResult<CloudAccountStatus>>("account");
    QTest::addColumn<CloudResult<std::optional<Board>>>("fetched");
    QTest::addColumn<CloudResult<CloudDone>>("saved");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QStringList>("expectedStates");

    const CloudResult<CloudAccountStatus> available = CloudAccountStatus::available;
    const CloudResult<std::optional<Board>> noRecord = std::optional<Board>();
    const CloudResult<CloudDone> done = CloudDone{};
    const QStringList fullPull{QStringLiteral("accountStatus"), QStringLiteral("fetch"),
                               QStringLiteral("apply"), QStringLiteral("save")};

    QTest::newRow("no record yet: local board applied, then uploaded")
        << available << noRecord << done << fullPull
        << QStringList{QStringLiteral("syncing"), QStringLiteral("ready")};
    QTest::newRow("no account: nothing fetched or applied")
        << CloudResult<CloudAccountStatus>(CloudAccountStatus::noAccount) << noRecord << done
        << QStringList{QStringLiteral("accountStatus")}
        << QStringList{QStringLiteral("syncing"), QStringLiteral("localOnly")};
    QTest::newRow("account check fails")
        << CloudResult<CloudAccountStatus>(refused) << noRecord << done
        << QStringList{QStringLiteral("accountStatus")}
        << QStringList{QStringLiteral("syncing"), QStringLiteral("failed:密码被拒绝")};
    QTest::newRow("cloud board does not decode: nothing applied or uploaded")
        << available << CloudResult<std::optional<Board>>(decodingError) << done
        << QStringList{QStringLiteral("accountStatus"), QStringLiteral("fetch")}
        << QStringList{QStringLiteral("syncing"), QStringLiteral("failed:看板数据无法读取")};
    QTest::newRow("upload fails after the merged board was applied")
        << available << noRecord << CloudResult<CloudDone>(changedOnServer) << fullPull
        << QStringList{QStringLiteral("syncing"), QStringLiteral("failed:记录已被修改")};
}

void SyncServiceTest::pullOrdersAccountFetchMergeApplySave()
{
    QFETCH(CloudResult<CloudAccountStatus>, account);
    QFETCH(CloudResult<std::optional<Board>>, fetched);
    QFETCH(CloudResult<CloudDone>, saved);
    QFETCH(QStringList, expectedLog);
    QFETCH(QStringList, expectedStates);

    Harness harness;
    harness.cloud->accountStatus = account;
    harness.cloud->fetch = fetched;
    harness.cloud->save = saved;
    const Board local{makeThought(QStringLiteral("local"))};

    harness.service->start(local, harness.applyAction());
    QTRY_COMPARE(harness.states, expectedStates);
    Harness::settle();

    QCOMPARE(harness.cloud->log, expectedLog);
    if (expectedLog.contains(QStringLiteral("apply"))) {
        QCOMPARE(harness.applied, QList<Board>{local});
        QCOMPARE(harness.cloud->savedBoards, QList<Board>{local});
    } else {
        QVERIFY(harness.applied.isEmpty());
    }
}

void SyncServiceTest::startRunsOnlyOnce()
{
    Harness harness;
    const Thought remoteOnly = makeThought(QStringLiteral("remote"));
    harness.cloud->fetch = std::optional<Board>(Board{remoteOnly});
    const Board local{makeThought(QStringLiteral("local"))};

    harness.service->start(local, harness.applyAction());
    bool secondActionCalled = false;
    harness.service->start(Board{makeThought(QStringLiteral("other"))},
                           [&](const Board &) { secondActionCalled = true; });
    QTRY_COMPARE(harness.service->state(), SyncService::State::cloudKitReady());

    QCOMPARE(harness.cloud->log.count(QStringLiteral("fetch")), 1);
    QVERIFY(!secondActionCalled);
    QCOMPARE(harness.applied, QList<Board>{(Board{local.first(), remoteOnly})});
}

void SyncServiceTest::withoutCloudStoreEverythingStaysLocal()
{
    Harness harness(false);
    bool applied = false;
    harness.service->start({makeThought(QStringLiteral("local"))},
                           [&](const Board &) { applied = true; });
    harness.service->scheduleUpload({makeThought(QStringLiteral("changed"))});
    Harness::settle();

    QVERIFY(!applied);
    QCOMPARE(harness.service->state(), SyncService::State::localOnly());
    QCOMPARE(harness.delays.pendingCount(), 0);
    QVERIFY(!harness.service->hasCloudStore());
}

void SyncServiceTest::burstOfChangesUploadsTheLastBoardOnce()
{
    Harness harness;
    harness.service->start({}, harness.applyAction());
    QTRY_COMPARE(harness.service->state(), SyncService::State::cloudKitReady());
    harness.cloud->log.clear();
    harness.cloud->savedBoards.clear();
    harness.states.clear();

    const Board third{makeThought(QStringLiteral("third"))};
    harness.service->scheduleUpload({makeThought(QStringLiteral("first"))});
    harness.delays.advance(300ms);
    harness.service->scheduleUpload({makeThought(QStringLiteral("second"))});
    harness.delays.advance(300ms);
    harness.service->scheduleUpload(third);
    harness.delays.advance(799ms);
    QVERIFY(harness.cloud->log.isEmpty());
    QVERIFY(harness.states.isEmpty());

    harness.delays.advance(1ms);
    QCOMPARE(harness.states, QStringList{QStringLiteral("syncing")});
    QTRY_COMPARE(harness.service->state(), SyncService::State::cloudKitReady());
    QCOMPARE(harness.cloud->savedBoards, QList<Board>{third});
}

void SyncServiceTest::cancellingEndsAWaitingUploadButNotASavingOne()
{
    Harness harness;
    harness.service->start({}, harness.applyAction());
    QTRY_COMPARE(harness.service->state(), SyncService::State::cloudKitReady());
    harness.cloud->savedBoards.clear();
    harness.cloud->answersAtOnce = false;

    const Board waiting{makeThought(QStringLiteral("waiting"))};
    const Board saving{makeThought(QStringLiteral("saving"))};
    const Board latest{makeThought(QStringLiteral("latest"))};
    harness.service->scheduleUpload(waiting);
    harness.delays.advance(400ms);
    harness.service->scheduleUpload(saving);
    harness.delays.advance(800ms);
    harness.service->scheduleUpload(latest);
    harness.delays.advance(800ms);

    QCOMPARE(harness.cloud->savedBoards, (QList<Board>{saving, latest}));
    harness.cloud->releaseAll();
    QCOMPARE(harness.service->state(), SyncService::State::cloudKitReady());
}

void SyncServiceTest::lastUploadToFinishSetsTheState()
{
    Harness harness;
    harness.service->start({}, harness.applyAction());
    QTRY_COMPARE(harness.service->state(), SyncService::State::cloudKitReady());
    harness.cloud->answersAtOnce = false;

    harness.cloud->save = changedOnServer;
    harness.service->scheduleUpload({makeThought(QStringLiteral("older"))});
    harness.delays.advance(800ms);
    harness.cloud->save = CloudDone{};
    harness.service->scheduleUpload({makeThought(QStringLiteral("newer"))});
    harness.delays.advance(800ms);
    QCOMPARE(harness.cloud->pending.size(), 2);

    harness.cloud->pending.takeLast()();
    QCOMPARE(harness.service->state(), SyncService::State::cloudKitReady());
    harness.cloud->pending.takeFirst()();
    QCOMPARE(harness.service->state(),
             SyncService::State::failed(changedOnServer.localizedDescription));
}

void SyncServiceTest::changeDuringThePullIsMergedNotLost()
{
    Harness harness;
    harness.cloud->answersAtOnce = false;
    const Thought remoteOnly = makeThought(QStringLiteral("remote"));
    harness.cloud->fetch = std::optional<Board>(Board{remoteOnly});
    const Thought local = makeThought(QStringLiteral("local"));
    const Thought typedMeanwhile = makeThought(QStringLiteral("typed while the cloud answered"));

    harness.service->start({local}, harness.applyAction());
    harness.cloud->releaseNext(); // account status
    harness.service->scheduleUpload({typedMeanwhile, local});
    harness.delays.advance(800ms);
    harness.cloud->releaseNext(); // fetch

    const Board expected{typedMeanwhile, local, remoteOnly};
    QCOMPARE(harness.applied, QList<Board>{expected});
    harness.cloud->releaseAll();
    harness.delays.advance(800ms);
    QCOMPARE(harness.cloud->savedBoards, QList<Board>{expected});
    QCOMPARE(harness.service->state(), SyncService::State::cloudKitReady());
}

void SyncServiceTest::uploadAfterAFailedPullPullsAgain()
{
    Harness harness;
    const Thought remoteOnly = makeThought(QStringLiteral("remote"));
    harness.cloud->accountStatus = refused;
    harness.service->start({}, harness.applyAction());
    QTRY_COMPARE(harness.service->state(),
                 SyncService::State::failed(refused.localizedDescription));

    harness.cloud->accountStatus = CloudAccountStatus::available;
    harness.cloud->fetch = std::optional<Board>(Board{remoteOnly});
    harness.cloud->log.clear();
    const Thought changed = makeThought(QStringLiteral("changed"));
    harness.service->scheduleUpload({changed});
    harness.delays.advance(800ms);
    QTRY_COMPARE(harness.service->state(), SyncService::State::cloudKitReady());

    QCOMPARE(harness.cloud->log,
             (QStringList{QStringLiteral("accountStatus"), QStringLiteral("fetch"),
                          QStringLiteral("apply"), QStringLiteral("save")}));
    QCOMPARE(harness.cloud->savedBoards, QList<Board>{(Board{changed, remoteOnly})});
}

void SyncServiceTest::destroyingTheServiceWithAnswersOutstandingIsSafe()
{
    auto harness = std::make_unique<Harness>();
    harness->cloud->answersAtOnce = false;
    harness->service->start({}, harness->applyAction());
    const std::shared_ptr<CloudScript> cloud = harness->cloud;
    harness.reset();
    cloud->releaseAll();
    QVERIFY(cloud->pending.isEmpty());
}

void SyncServiceTest::quietPeriodRunsOnARealTimerByDefault()
{
    auto cloud = std::make_shared<CloudScript>();
    SyncService service(std::make_unique<FakeCloudStore>(cloud));
    service.start({}, {});
    QTRY_COMPARE(service.state(), SyncService::State::cloudKitReady());
    cloud->savedBoards.clear();

    const Board changed{makeThought(QStringLiteral("changed"))};
    QElapsedTimer clock;
    clock.start();
    service.scheduleUpload(changed);
    QTest::qWait(500);
    QVERIFY(cloud->savedBoards.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(cloud->savedBoards, QList<Board>{changed}, 5000);
    QVERIFY(clock.elapsed() >= 800);
}

QTEST_GUILESS_MAIN(SyncServiceTest)
#include "tst_syncservice.moc"
