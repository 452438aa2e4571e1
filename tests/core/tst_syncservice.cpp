#include "BoardFixtures.h"
#include "CloudFakes.h"
#include "services/SyncService.h"
#include "stores/BoardStore.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

using Kind = SyncService::State::Kind;

/// One machine: a board store over an in-memory file, linked to a sync service that reaches the
/// shared cloud, with the quiet period on a hand-moved clock. Every file save is logged as
/// "file" in the cloud's log, so the order of local and cloud steps shows in one list.
struct Machine
{
    RecordingPersistence file;
    ManualDelays delays;
    std::unique_ptr<BoardStore> store;
    std::unique_ptr<SyncService> service;

    Machine(const std::shared_ptr<MemoryCloud> &cloud, std::optional<Board> saved)
    {
        file.stored = std::move(saved);
        BoardPersistence persistence = file.persistence();
        persistence.save = [save = persistence.save, cloud](const Board &board) {
            if (cloud)
                cloud->log.append(QStringLiteral("file"));
            save(board);
        };
        store = std::make_unique<BoardStore>(persistence);
        service = std::make_unique<SyncService>(
            cloud ? std::make_unique<MemoryCloudStore>(cloud) : nullptr);
        service->setStartDelay(delays.startDelay());
        store->startSync(service.get());
    }

    Kind kind() const { return service->state().kind; }
    void add(const QString &title)
    {
        store->addQuickThought(title);
        delays.advance(SyncService::quietPeriod);
    }
};

QStringList cloudTitles(const MemoryCloud &cloud)
{
    return titles(cloud.record.board);
}

/// Lets every answer the cloud gives "at once" arrive, however many rounds they take.
void settle()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

const CloudError refused{CloudErrorCode::notAuthenticated, QStringLiteral("密码被拒绝")};
const CloudError changed{CloudErrorCode::serverRecordChanged, QStringLiteral("changed")};

} // namespace

class SyncServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void launch_data();
    void launch();
    void writesAreGuardedByTheVersionLastMerged_data();
    void writesAreGuardedByTheVersionLastMerged();
    void sameSecondEditsAgreeEverywhere_data();
    void sameSecondEditsAgreeEverywhere();
    void aChangeWaitsForTheSaveOnItsWay();
    void aRecordThatKeepsChangingEndsInFailedAndLosesNothing();
    void unreadableRecordIsMovedAsideByTheNextUpload();
    void catchUp_data();
    void catchUp();
    void burstOfChangesUploadsTheLastBoardOnce();
    void destroyingTheServiceWithAnswersOutstandingIsSafe();
};

void SyncServiceTest::launch_data()
{
    QTest::addColumn<bool>("hasCloud");
    QTest::addColumn<bool>("savedBoard");
    QTest::addColumn<CloudResult<CloudAccountStatus>>("account");
    QTest::addColumn<CloudSnapshot>("record");
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QStringList>("expectedCloud");
    QTest::addColumn<QStringList>("expectedBoard");
    QTest::addColumn<int>("expectedKind");

    const CloudResult<CloudAccountStatus> available = CloudAccountStatus::available;
    const CloudSnapshot none;
    const CloudSnapshot cloudBoard{CloudSnapshot::Kind::board,
                                   Board{makeThought(QStringLiteral("cloud"))}, "v1", {}};
    const CloudSnapshot unreadable{CloudSnapshot::Kind::unreadable, {}, "v1",
                                   QStringLiteral("看板数据无法读取")};
    const QStringList fullPull{QStringLiteral("accountStatus"), QStringLiteral("fetch"),
                               QStringLiteral("file"), QStringLiteral("save")};
    const QStringList local{QStringLiteral("local")};
    const QStringList merged{QStringLiteral("local"), QStringLiteral("cloud")};
    const QStringList samples{QStringLiteral("把今天冒出来的产品灵感先放进这里"),
                              QStringLiteral("研究 iCloud / CloudKit 同步结构"),
                              QStringLiteral("确定四列看板状态")};

    QTest::newRow("no cloud store: nothing asked") << false << true << available << none
                                                   << QString() << QStringList() << QStringList()
                                                   << local << int(Kind::localOnly);
    QTest::newRow("no account: nothing fetched or applied")
        << true << true << CloudResult<CloudAccountStatus>(CloudAccountStatus::noAccount) << none
        << QString() << QStringList{QStringLiteral("accountStatus")} << QStringList() << local
        << int(Kind::localOnly);
    QTest::newRow("account check fails")
        << true << true << CloudResult<CloudAccountStatus>(refused) << none << QString()
        << QStringList{QStringLiteral("accountStatus")} << QStringList() << local
        << int(Kind::failed);
    QTest::newRow("no record yet: local board applied, then created")
        << true << true << available << none << QString() << fullPull << local << local
        << int(Kind::cloudKitReady);
    QTest::newRow("cloud board merged after the local one")
        << true << true << available << cloudBoard << QString() << fullPull << merged << merged
        << int(Kind::cloudKitReady);
    QTest::newRow("fetch fails: nothing applied or uploaded")
        << true << true << available << cloudBoard << QStringLiteral("fetch")
        << QStringList{QStringLiteral("accountStatus"), QStringLiteral("fetch")}
        << QStringList{QStringLiteral("cloud")} << local << int(Kind::failed);
    QTest::newRow("unreadable record is left alone at launch")
        << true << true << available << unreadable << QString()
        << QStringList{QStringLiteral("accountStatus"), QStringLiteral("fetch")} << QStringList()
        << local << int(Kind::failed);
    QTest::newRow("upload fails after the merged board was applied")
        << true << true << available << cloudBoard << QStringLiteral("save") << fullPull
        << QStringList{QStringLiteral("cloud")} << merged << int(Kind::failed);
    QTest::newRow("untouched samples give way to the cloud board")
        << true << false << available << cloudBoard << QString() << fullPull
        << QStringList{QStringLiteral("cloud")} << QStringList{QStringLiteral("cloud")}
        << int(Kind::cloudKitReady);
    QTest::newRow("untouched samples fill an empty cloud")
        << true << false << available << none << QString() << fullPull << samples << samples
        << int(Kind::cloudKitReady);
}

void SyncServiceTest::launch()
{
    QFETCH(bool, hasCloud);
    QFETCH(bool, savedBoard);
    QFETCH(CloudResult<CloudAccountStatus>, account);
    QFETCH(CloudSnapshot, record);
    QFETCH(QString, failingCall);
    QFETCH(QStringList, expectedLog);
    QFETCH(QStringList, expectedCloud);
    QFETCH(QStringList, expectedBoard);
    QFETCH(int, expectedKind);

    auto cloud = std::make_shared<MemoryCloud>();
    cloud->accountStatus = account;
    cloud->record = record;
    if (!failingCall.isEmpty())
        cloud->failures.insert(failingCall, refused);
    Machine machine(hasCloud ? cloud : nullptr,
                    savedBoard ? std::optional<Board>(Board{makeThought(QStringLiteral("local"))})
                               : std::nullopt);
    settle();

    QCOMPARE(cloud->log, expectedLog);
    QCOMPARE(cloudTitles(*cloud), expectedCloud);
    QCOMPARE(titles(machine.store->thoughts()), expectedBoard);
    QCOMPARE(int(machine.kind()), expectedKind);
    if (machine.kind() == Kind::failed)
        QVERIFY(!machine.service->state().message.isEmpty());
}

void SyncServiceTest::writesAreGuardedByTheVersionLastMerged_data()
{
    QTest::addColumn<bool>("savesAnswerWithoutVersion");
    QTest::newRow("server names the new version") << false;
    QTest::newRow("server answers without a version") << true;
}

void SyncServiceTest::writesAreGuardedByTheVersionLastMerged()
{
    QFETCH(bool, savesAnswerWithoutVersion);
    auto cloud = std::make_shared<MemoryCloud>();
    cloud->savesAnswerWithoutVersion = savesAnswerWithoutVersion;
    Machine a(cloud, Board{makeThought(QStringLiteral("A"))});
    settle();
    Machine b(cloud, Board());
    settle();
    QCOMPARE(titles(b.store->thoughts()), QStringList{QStringLiteral("A")});

    // B writes while A, already running, still holds the version it merged at launch. B knows
    // the version it wrote last, even from a server that did not name it, so one write does.
    cloud->log.clear();
    b.add(QStringLiteral("from B"));
    settle();
    QCOMPARE(cloud->log.count(QStringLiteral("save")), 1);
    a.add(QStringLiteral("from A"));
    settle();

    // A reordered nothing, so the cloud's order holds, and A's new card keeps its place above
    // the card that followed it on A.
    const QStringList expected{QStringLiteral("from B"), QStringLiteral("from A"),
                               QStringLiteral("A")};
    QCOMPARE(cloudTitles(*cloud), expected);
    QCOMPARE(titles(a.store->thoughts()), expected);
    QCOMPARE(titles(a.file.saves.last()), expected);
    QCOMPARE(a.kind(), Kind::cloudKitReady);
    QCOMPARE(b.kind(), Kind::cloudKitReady);
}

void SyncServiceTest::sameSecondEditsAgreeEverywhere_data()
{
    QTest::addColumn<bool>("otherEditsTheSameThought");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the cloud still holds what A synced: A's edit is the newer")
        << false << QStringLiteral("by A");
    QTest::newRow("B's edit reached the cloud first: it wins everywhere")
        << true << QStringLiteral("by B");
}

void SyncServiceTest::sameSecondEditsAgreeEverywhere()
{
    QFETCH(bool, otherEditsTheSameThought);
    QFETCH(QString, expected);

    // Every edit falls within one second, which is all the record keeps of a date.
    auto cloud = std::make_shared<MemoryCloud>();
    const Thought shared = makeThought(QStringLiteral("X"));
    Machine a(cloud, Board{shared});
    settle();
    Machine b(cloud, Board());
    settle();
    a.store->setClock([] { return fixtureNow().addMSecs(700); });
    b.store->setClock([] { return fixtureNow().addMSecs(300); });

    if (otherEditsTheSameThought)
        b.store->update(shared, QStringLiteral("by B"), QString(), shared.status);
    else
        b.store->addQuickThought(QStringLiteral("Y"));
    b.delays.advance(SyncService::quietPeriod);
    settle();
    a.store->update(shared, QStringLiteral("by A"), QString(), shared.status);
    a.delays.advance(SyncService::quietPeriod);
    settle();
    b.service->catchUp();
    settle();

    for (const Board &board : {cloud->record.board, a.store->thoughts(), b.store->thoughts()}) {
        const auto x = std::find_if(board.cbegin(), board.cend(),
                                    [&](const Thought &t) { return t.id == shared.id; });
        QVERIFY(x != board.cend());
        QCOMPARE(x->title, expected);
    }
}

void SyncServiceTest::aChangeWaitsForTheSaveOnItsWay()
{
    auto cloud = std::make_shared<MemoryCloud>();
    Machine machine(cloud, Board());
    settle();
    cloud->answersAtOnce = false;
    cloud->log.clear();

    machine.add(QStringLiteral("first"));
    QCOMPARE(cloud->log, (QStringList{QStringLiteral("file"), QStringLiteral("save")}));
    machine.add(QStringLiteral("second"));
    QCOMPARE(cloud->pending.size(), 1); // the second save waits for the first
    cloud->releaseNext();
    QCOMPARE(cloud->pending.size(), 1);
    cloud->releaseNext();

    QCOMPARE(cloud->log.count(QStringLiteral("save")), 2);
    QCOMPARE(cloudTitles(*cloud), (QStringList{QStringLiteral("second"), QStringLiteral("first")}));
    QCOMPARE(machine.kind(), Kind::cloudKitReady);
}

void SyncServiceTest::aRecordThatKeepsChangingEndsInFailedAndLosesNothing()
{
    auto cloud = std::make_shared<MemoryCloud>();
    Machine machine(cloud, Board());
    settle();
    cloud->failures.insert(QStringLiteral("save"), changed);
    cloud->log.clear();

    machine.add(QStringLiteral("kept"));
    settle();

    QCOMPARE(cloud->log.count(QStringLiteral("save")), SyncService::maxWriteAttempts);
    QCOMPARE(machine.kind(), Kind::failed);
    QVERIFY(!machine.service->state().message.isEmpty());
    QCOMPARE(titles(machine.file.saves.last()), QStringList{QStringLiteral("kept")});
}

void SyncServiceTest::unreadableRecordIsMovedAsideByTheNextUpload()
{
    auto cloud = std::make_shared<MemoryCloud>();
    cloud->record = {CloudSnapshot::Kind::unreadable, {}, "v1", QStringLiteral("坏记录")};
    Machine machine(cloud, Board{makeThought(QStringLiteral("local"))});
    settle();
    QCOMPARE(machine.kind(), Kind::failed);

    machine.add(QStringLiteral("next"));
    settle();

    QVERIFY(cloud->log.contains(QStringLiteral("moveAside")));
    QCOMPARE(cloudTitles(*cloud), (QStringList{QStringLiteral("next"), QStringLiteral("local")}));
    QCOMPARE(machine.kind(), Kind::cloudKitReady);
    QVERIFY2(machine.service->state().message.contains(QStringLiteral("unreadable")),
             qPrintable(machine.service->state().message));
}

void SyncServiceTest::catchUp_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QStringList>("expectedBoard");

    const QStringList own{QStringLiteral("own")};
    QTest::newRow("unchanged: one small question")
        << QStringLiteral("unchanged") << QStringList{QStringLiteral("version")} << own;
    QTest::newRow("written elsewhere: pulled and applied, nothing written back")
        << QStringLiteral("elsewhere")
        << QStringList{QStringLiteral("version"), QStringLiteral("fetch"), QStringLiteral("file")}
        << QStringList{QStringLiteral("own"), QStringLiteral("other")};
    QTest::newRow("local only: no traffic")
        << QStringLiteral("localOnly") << QStringList() << own;
    QTest::newRow("an upload is waiting: no traffic")
        << QStringLiteral("waiting") << QStringList{QStringLiteral("file")}
        << QStringList{QStringLiteral("waiting"), QStringLiteral("own")};
    QTest::newRow("after a failed upload: the upload again")
        << QStringLiteral("failedUpload")
        << QStringList{QStringLiteral("file"), QStringLiteral("save"), QStringLiteral("save")}
        << QStringList{QStringLiteral("retried"), QStringLiteral("own")};
}

void SyncServiceTest::catchUp()
{
    QFETCH(QString, situation);
    QFETCH(QStringList, expectedLog);
    QFETCH(QStringList, expectedBoard);

    auto cloud = std::make_shared<MemoryCloud>();
    if (situation == QStringLiteral("localOnly"))
        cloud->accountStatus = CloudAccountStatus::noAccount;
    Machine machine(cloud, Board{makeThought(QStringLiteral("own"))});
    settle();
    cloud->log.clear();
    if (situation == QStringLiteral("elsewhere"))
        cloud->writeFromElsewhere(cloud->record.board + Board{makeThought(QStringLiteral("other"))});
    if (situation == QStringLiteral("waiting"))
        machine.store->addQuickThought(QStringLiteral("waiting"));
    if (situation == QStringLiteral("failedUpload")) {
        cloud->failures.insert(QStringLiteral("save"), refused);
        machine.add(QStringLiteral("retried"));
        settle();
        QCOMPARE(machine.kind(), Kind::failed);
        cloud->failures.clear();
    }

    machine.service->catchUp();
    settle();

    QCOMPARE(cloud->log, expectedLog);
    QCOMPARE(titles(machine.store->thoughts()), expectedBoard);
    if (!expectedLog.isEmpty() && situation != QStringLiteral("waiting"))
        QCOMPARE(cloudTitles(*cloud), expectedBoard);
}

void SyncServiceTest::burstOfChangesUploadsTheLastBoardOnce()
{
    auto cloud = std::make_shared<MemoryCloud>();
    Machine machine(cloud, Board());
    settle();
    cloud->log.clear();

    for (const QString &title : {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}) {
        machine.store->addQuickThought(title);
        machine.delays.advance(300ms);
    }
    settle();
    QVERIFY(!cloud->log.contains(QStringLiteral("save")));
    QCOMPARE(machine.kind(), Kind::cloudKitReady); // the quiet period shows nothing yet
    machine.delays.advance(SyncService::quietPeriod - 300ms);
    settle();

    QCOMPARE(cloud->log.count(QStringLiteral("save")), 1);
    QCOMPARE(cloudTitles(*cloud),
             (QStringList{QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1")}));
}

void SyncServiceTest::destroyingTheServiceWithAnswersOutstandingIsSafe()
{
    auto cloud = std::make_shared<MemoryCloud>();
    cloud->answersAtOnce = false;
    {
        Machine machine(cloud, Board());
    }
    while (!cloud->pending.isEmpty())
        cloud->releaseNext();
    settle();
}

QTEST_GUILESS_MAIN(SyncServiceTest)
#include "tst_syncservice.moc"
