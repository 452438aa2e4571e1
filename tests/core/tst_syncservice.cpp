#include "BoardFixtures.h"
#include "CloudFakes.h"
#include "services/SyncService.h"
#include "services/ThoughtSyncMerge.h"
#include "stores/BoardCodec.h"
#include "stores/BoardStore.h"

#include <QRegularExpression>
#include <QTest>

using namespace std::chrono_literals;
using Kind = SyncService::State::Kind;
using StoreChange = Machine::Change;
Q_DECLARE_METATYPE(StoreChange)
Q_DECLARE_METATYPE(SyncService::State::Kind)

namespace {

std::unique_ptr<Machine> makeMachine(const std::shared_ptr<MemoryCloud> &cloud,
                                     std::optional<Board> saved, const StoreChange &beforeSync = {})
{
    return std::make_unique<Machine>(std::move(saved),
                                     cloud ? std::make_unique<MemoryCloudStore>(cloud) : nullptr,
                                     cloud ? &cloud->log : nullptr, beforeSync);
}

const CloudError refused{CloudErrorCode::notAuthenticated, "密码被拒绝"};

// "A1000c~'": thought A updated 1000 ms after fixtureNow(), completed ("c"), a tombstone ("~"),
// the quote only telling apart two versions of one moment. Title and note are the word itself,
// so comparing boards shows which version of every thought won, whole.
Board boardOf(const QString &text)
{
    static const QRegularExpression form("^([A-Z])(-?\\d+)(c?)(~?)'*$");
    Board result;
    for (const QString &word : text.split(' ', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch part = form.match(word);
        result.append(Thought{
            QUuid(0x10000000u + word[0].unicode(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), word, word,
            part.captured(3).isEmpty() ? ThoughtStatus::notStarted : ThoughtStatus::completed,
            fixtureNow().addSecs(-3600), fixtureNow().addMSecs(part.captured(2).toLongLong()),
            !part.captured(4).isEmpty()});
    }
    return result;
}

} // namespace

class SyncServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void mergesByNewestEditPerThought_data();
    void mergesByNewestEditPerThought();
    void launch_data();
    void launch();
    void everyStoreChangeIsUploadedOnceWithTombstones_data();
    void everyStoreChangeIsUploadedOnceWithTombstones();
    void writesAreGuardedByTheVersionLastMerged_data();
    void writesAreGuardedByTheVersionLastMerged();
    void sameSecondEditsAgreeEverywhere_data();
    void sameSecondEditsAgreeEverywhere();
    void anEditJustBeforeQuittingSurvivesTheNextLaunch_data();
    void anEditJustBeforeQuittingSurvivesTheNextLaunch();
    void aReorderHereSurvivesAWriteFromElsewhere();
    void aChangeWaitsForTheSaveOnItsWay();
    void aRecordThatKeepsChangingEndsInFailedAndLosesNothing();
    void unreadableRecordIsMovedAsideByTheNextUpload();
    void catchUp_data();
    void catchUp();
    void burstOfChangesUploadsTheLastBoardOnce();
    void quietPeriodRunsOnARealTimer();
    void destroyingTheServiceWithAnswersOutstandingIsSafe();
};

void SyncServiceTest::mergesByNewestEditPerThought_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *local, const char *remote,
                        const char *expected) {
        QTest::newRow(name) << local << remote << expected;
    };
    row("both empty", "", "", "");
    row("no cloud board keeps local as is", "A0 B0 C0", "", "A0 B0 C0");
    row("repeats collapse at first place, newest wins, first of a tie", "", "X0 Y0 X5000 X5000'",
        "X5000 Y0");
    row("repeated local ids collapse too", "A0 B0 A1000", "", "A1000 B0");
    row("cloud-only thoughts follow local ones in cloud order", "A0", "Y0 X0", "A0 Y0 X0");
    row("newer remote wins at the local position", "B0 A0 C0", "A1000", "B0 A1000 C0");
    row("tie keeps local", "A0", "A0'", "A0");
    row("sub-second local edit beats the whole-second copy", "A700", "A0'", "A700");
    row("older remote tombstone loses", "A0", "A-1000~", "A0");
    row("newer remote tombstone deletes the local card", "A0 B0", "A1000~", "A1000~ B0");
    row("cloud-only tombstone is carried along", "B0", "A1000~", "B0 A1000~");
    row("newer local tombstone stays deleted", "A2000~", "A1000", "A2000~");
    row("newer live remote revives a local tombstone", "A2000~", "A3000", "A3000");
    row("remote status change keeps the local position", "A0 B0", "B0 A1000c", "A1000c B0");
    row("repeated cloud-only id: newer version, first position", "A0", "X0 Y0 X1000",
        "A0 X1000 Y0");
}

void SyncServiceTest::mergesByNewestEditPerThought()
{
    QFETCH(QString, local);
    QFETCH(QString, remote);
    QFETCH(QString, expected);
    const Board merged = ThoughtSyncMerge::merge(boardOf(local), boardOf(remote));
    QCOMPARE(titles(merged).join(' '), expected);
    QCOMPARE(merged, boardOf(expected));
}

void SyncServiceTest::launch_data()
{
    QTest::addColumn<bool>("hasCloud");
    QTest::addColumn<QString>("localBoard");
    QTest::addColumn<CloudResult<CloudAccountStatus>>("account");
    QTest::addColumn<CloudSnapshot>("record");
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QStringList>("expectedCloud");
    QTest::addColumn<QStringList>("expectedBoard");
    QTest::addColumn<Kind>("expectedKind");
    using Account = CloudResult<CloudAccountStatus>;
    const Account ok = CloudAccountStatus::available;
    const CloudSnapshot none;
    const CloudSnapshot cloud{CloudSnapshot::Kind::board, {makeThought("cloud")}, "v1", {}};
    const CloudSnapshot unreadable{CloudSnapshot::Kind::unreadable, {}, "v1", "看板数据无法读取"};
    // Lists are joined by "|": "pull" stands for a whole launch round, "samples" for the three.
    const auto row = [](const char *name, const char *local, const Account &account,
                        const CloudSnapshot &record, const char *failing, const char *log,
                        const char *inCloud, const char *board, Kind kind) {
        const auto list = [](QString text) {
            text.replace("pull", "accountStatus|fetch|file|save")
                .replace("samples", "把今天冒出来的产品灵感先放进这里|"
                                    "研究 iCloud / CloudKit 同步结构|确定四列看板状态");
            return text.split('|', Qt::SkipEmptyParts);
        };
        QTest::newRow(name) << (QByteArray(name) != "no cloud store: nothing asked") << local
                            << account << record << failing << list(log) << list(inCloud)
                            << list(board) << kind;
    };
    row("no cloud store: nothing asked", "saved", ok, none, "", "", "", "local", Kind::localOnly);
    row("no account: nothing fetched or applied", "saved", Account(CloudAccountStatus::noAccount),
        none, "", "accountStatus", "", "local", Kind::localOnly);
    row("account check fails", "saved", Account(refused), none, "", "accountStatus", "", "local",
        Kind::failed);
    row("no record yet: local board applied, then created", "saved", ok, none, "", "pull", "local",
        "local", Kind::cloudKitReady);
    row("cloud board merged after the local one", "saved", ok, cloud, "", "pull", "local|cloud",
        "local|cloud", Kind::cloudKitReady);
    row("fetch fails: nothing applied or uploaded", "saved", ok, cloud, "fetch",
        "accountStatus|fetch", "cloud", "local", Kind::failed);
    row("unreadable record is left alone at launch", "saved", ok, unreadable, "",
        "accountStatus|fetch", "", "local", Kind::failed);
    row("upload fails after the merged board was applied", "saved", ok, cloud, "save", "pull",
        "cloud", "local|cloud", Kind::failed);
    row("untouched samples give way to the cloud board", "samples", ok, cloud, "", "pull", "cloud",
        "cloud", Kind::cloudKitReady);
    row("samples someone changed are merged like any board", "touched samples", ok, cloud, "",
        "file|pull", "samples|cloud", "samples|cloud", Kind::cloudKitReady);
    row("untouched samples fill an empty cloud", "samples", ok, none, "", "pull", "samples",
        "samples", Kind::cloudKitReady);
}

void SyncServiceTest::launch()
{
    QFETCH(bool, hasCloud);
    QFETCH(QString, localBoard);
    QFETCH(CloudResult<CloudAccountStatus>, account);
    QFETCH(CloudSnapshot, record);
    QFETCH(QString, failingCall);
    QFETCH(QStringList, expectedLog);
    QFETCH(QStringList, expectedCloud);
    QFETCH(QStringList, expectedBoard);
    QFETCH(Kind, expectedKind);
    auto cloud = std::make_shared<MemoryCloud>();
    cloud->accountStatus = account;
    cloud->record = record;
    if (!failingCall.isEmpty())
        cloud->failures.insert(failingCall, refused);
    auto machine = makeMachine(
        hasCloud ? cloud : nullptr,
        localBoard == "saved" ? std::optional<Board>({makeThought("local")}) : std::nullopt,
        localBoard == "touched samples" ? StoreChange([](BoardStore &store) {
            store.move(store.thoughts().last().id, ThoughtStatus::completed, {});
        })
                                        : StoreChange());
    QCOMPARE(cloud->log, expectedLog);
    QCOMPARE(titles(cloud->record.board), expectedCloud);
    QCOMPARE(titles(machine->store->thoughts()), expectedBoard);
    QCOMPARE(machine->kind(), expectedKind);
    QCOMPARE(machine->kind() == Kind::failed, !machine->service->state().message.isEmpty());
}

void SyncServiceTest::everyStoreChangeIsUploadedOnceWithTombstones_data()
{
    // Every change goes out through the same save; these stand for them all.
    QTest::addColumn<StoreChange>("change");
    QTest::newRow("add") << StoreChange([](BoardStore &s) { s.addQuickThought("new"); });
    QTest::newRow("delete") << StoreChange(
        [](BoardStore &s) { s.deleteThought(s.thoughts().first()); });
    QTest::newRow("archive") << StoreChange([](BoardStore &s) { s.archiveCompleted(); });
}

void SyncServiceTest::everyStoreChangeIsUploadedOnceWithTombstones()
{
    QFETCH(StoreChange, change);
    auto cloud = std::make_shared<MemoryCloud>();
    auto machine =
        makeMachine(cloud, Board{makeThought("A", ThoughtStatus::completed),
                                 makeThought("deleted", ThoughtStatus::completed, 0, true)});
    // A second link is ignored: the board keeps going to the first service only.
    auto other = std::make_shared<MemoryCloud>();
    SyncService otherService(std::make_unique<MemoryCloudStore>(other));
    machine->store->startSync(&otherService);
    cloud->log.clear();
    machine->change(change);
    QCOMPARE(cloud->log, (QStringList{"file", "save"}));
    QCOMPARE(BoardCodec::encode(cloud->record.board),
             BoardCodec::encode(machine->store->thoughts()));
    QCOMPARE(machine->file.stored, std::optional<Board>(machine->store->thoughts()));
    QVERIFY(other->log.isEmpty());
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
    auto a = makeMachine(cloud, Board{makeThought("A")});
    auto b = makeMachine(cloud, Board());
    QCOMPARE(titles(b->store->thoughts()), QStringList{"A"});

    // B writes while A, already running, still holds the version it merged at launch. B knows
    // the version it wrote last, even from a server that did not name it, so one write does.
    cloud->log.clear();
    b->add("from B");
    QCOMPARE(cloud->log.count("save"), 1);
    QCOMPARE(cloud->log.count("file"), 1); // reading its own write back changes nothing
    a->add("from A");

    // A reordered nothing, so the cloud's order holds, and A's new card keeps its place above
    // the card that followed it on A.
    const QStringList expected{"from B", "from A", "A"};
    QCOMPARE(titles(cloud->record.board), expected);
    QCOMPARE(titles(a->store->thoughts()), expected);
    QCOMPARE(titles(*a->file.stored), expected);
    QCOMPARE(a->kind(), Kind::cloudKitReady);
    QCOMPARE(b->kind(), Kind::cloudKitReady);
}

void SyncServiceTest::sameSecondEditsAgreeEverywhere_data()
{
    QTest::addColumn<bool>("otherEditsTheSameThought");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the cloud still holds what A synced: A's edit is the newer") << false << "by A";
    QTest::newRow("B's edit reached the cloud first: it wins everywhere") << true << "by B";
}

void SyncServiceTest::sameSecondEditsAgreeEverywhere()
{
    QFETCH(bool, otherEditsTheSameThought);
    QFETCH(QString, expected);

    // Every edit falls within one second, which is all the record keeps of a date.
    auto cloud = std::make_shared<MemoryCloud>();
    const Thought x = makeThought("X");
    auto a = makeMachine(cloud, Board{x});
    auto b = makeMachine(cloud, Board());
    a->store->setClock([] { return fixtureNow().addMSecs(700); });
    b->store->setClock([] { return fixtureNow().addMSecs(300); });
    if (otherEditsTheSameThought)
        b->change([&x](BoardStore &s) { s.update(x, "by B", "", x.status); });
    else
        b->add("Y");
    a->change([&x](BoardStore &s) { s.update(x, "by A", "", x.status); });
    b->catchUp();
    for (const Board &board : {cloud->record.board, a->store->thoughts(), b->store->thoughts()})
        QVERIFY2(titles(board).contains(expected), qPrintable(titles(board).join(' ')));
}

void SyncServiceTest::aReorderHereSurvivesAWriteFromElsewhere()
{
    auto cloud = std::make_shared<MemoryCloud>();
    auto a = makeMachine(cloud, Board{makeThought("X"), makeThought("Y")});
    auto b = makeMachine(cloud, Board());
    b->add("B");
    a->change([](BoardStore &s) { s.move(s.thoughts()[1].id, {}, s.thoughts()[0].id); });
    QCOMPARE(titles(cloud->record.board), (QStringList{"Y", "X", "B"}));
}

void SyncServiceTest::anEditJustBeforeQuittingSurvivesTheNextLaunch_data()
{
    QTest::addColumn<bool>("writtenElsewhereMeanwhile");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the cloud as this machine left it") << false << "second";
    QTest::newRow("another machine wrote since: the cloud's") << true << "elsewhere";
}

void SyncServiceTest::anEditJustBeforeQuittingSurvivesTheNextLaunch()
{
    QFETCH(bool, writtenElsewhereMeanwhile);
    QFETCH(QString, expected);
    // Both edits fall within the one second the record keeps of the first; the second is made
    // just before quitting, inside the quiet period, so only the board file has it.
    auto cloud = std::make_shared<MemoryCloud>();
    FakeSettings memory;
    const Thought x = makeThought("X");
    auto a = std::make_unique<Machine>(Board{x}, std::make_unique<MemoryCloudStore>(cloud), nullptr,
                                       StoreChange(), &memory);
    a->store->setClock([] { return fixtureNow().addMSecs(300); });
    a->change([&x](BoardStore &s) { s.update(x, "first", "", x.status); });
    a->store->setClock([] { return fixtureNow().addMSecs(700); });
    a->store->update(a->store->thoughts().first(), "second", "", x.status);
    const Board onDisk = *a->file.stored;
    a.reset();
    if (writtenElsewhereMeanwhile) {
        Thought elsewhere = cloud->record.board.first();
        elsewhere.title = "elsewhere";
        cloud->writeFromElsewhere({elsewhere});
    }
    Machine again(onDisk, std::make_unique<MemoryCloudStore>(cloud), nullptr, {}, &memory);
    again.settle();
    QCOMPARE(titles(again.store->thoughts()), QStringList{expected});
    QCOMPARE(titles(cloud->record.board), QStringList{expected});
}

void SyncServiceTest::aChangeWaitsForTheSaveOnItsWay()
{
    auto cloud = std::make_shared<MemoryCloud>();
    auto machine = makeMachine(cloud, Board());
    cloud->answersAtOnce = false;
    cloud->log.clear();
    const auto addNow = [&machine](const char *title) {
        machine->store->addQuickThought(title);
        machine->quietPeriodElapsed();
    };

    addNow("first");
    QCOMPARE(cloud->log, (QStringList{"file", "save"}));
    addNow("second");
    QCOMPARE(cloud->pending.size(), 1); // the second save waits for the first
    cloud->releaseNext();
    QCOMPARE(cloud->pending.size(), 1);
    cloud->releaseNext();
    QCOMPARE(cloud->log.count("save"), 2);
    QCOMPARE(titles(cloud->record.board), (QStringList{"second", "first"}));
    QCOMPARE(machine->kind(), Kind::cloudKitReady);
}

void SyncServiceTest::aRecordThatKeepsChangingEndsInFailedAndLosesNothing()
{
    auto cloud = std::make_shared<MemoryCloud>();
    auto machine = makeMachine(cloud, Board());
    cloud->failures.insert("save", {CloudErrorCode::serverRecordChanged, "changed"});
    cloud->log.clear();
    machine->add("kept");
    QCOMPARE(cloud->log.count("save"), SyncService::maxWriteAttempts);
    QCOMPARE(machine->kind(), Kind::failed);
    QCOMPARE(titles(*machine->file.stored), QStringList{"kept"});
}

void SyncServiceTest::unreadableRecordIsMovedAsideByTheNextUpload()
{
    auto cloud = std::make_shared<MemoryCloud>();
    cloud->record = {CloudSnapshot::Kind::unreadable, {}, "v1", "坏记录"};
    auto machine = makeMachine(cloud, Board{makeThought("local")});
    QCOMPARE(machine->kind(), Kind::failed);
    machine->add("next");
    QVERIFY(cloud->log.contains("moveAside"));
    QCOMPARE(titles(cloud->record.board), (QStringList{"next", "local"}));
    QCOMPARE(machine->kind(), Kind::cloudKitReady);
    QVERIFY(machine->service->state().message.contains("default-board.unreadable.json"));
}

void SyncServiceTest::catchUp_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QStringList>("expectedBoard");
    QTest::newRow("unchanged: one small question")
        << "unchanged" << QStringList{"version"} << QStringList{"own"};
    QTest::newRow("written elsewhere: pulled and applied, nothing written back")
        << "elsewhere" << QStringList{"version", "fetch", "file"} << QStringList{"own", "other"};
    QTest::newRow("local only: no traffic") << "localOnly" << QStringList() << QStringList{"own"};
    QTest::newRow("an upload is waiting: no traffic")
        << "waiting" << QStringList{"file"} << QStringList{"waiting", "own"};
    QTest::newRow("after a failed upload: the upload again")
        << "failedUpload" << QStringList{"file", "save", "save"} << QStringList{"retried", "own"};
}

void SyncServiceTest::catchUp()
{
    QFETCH(QString, situation);
    QFETCH(QStringList, expectedLog);
    QFETCH(QStringList, expectedBoard);
    auto cloud = std::make_shared<MemoryCloud>();
    if (situation == "localOnly")
        cloud->accountStatus = CloudAccountStatus::noAccount;
    auto machine = makeMachine(cloud, Board{makeThought("own")});
    cloud->log.clear();
    if (situation == "elsewhere")
        cloud->writeFromElsewhere(cloud->record.board + Board{makeThought("other")});
    if (situation == "waiting")
        machine->store->addQuickThought("waiting");
    if (situation == "failedUpload") {
        cloud->failures.insert("save", refused);
        machine->add("retried");
        QCOMPARE(machine->kind(), Kind::failed);
        cloud->failures.clear();
    }

    machine->catchUp();
    QCOMPARE(cloud->log, expectedLog);
    QCOMPARE(titles(machine->store->thoughts()), expectedBoard);
    if (!expectedLog.isEmpty() && situation != "waiting")
        QCOMPARE(titles(cloud->record.board), expectedBoard);
}

void SyncServiceTest::burstOfChangesUploadsTheLastBoardOnce()
{
    auto cloud = std::make_shared<MemoryCloud>();
    auto machine = makeMachine(cloud, Board());
    cloud->log.clear();
    for (const char *title : {"1", "2", "3"})
        machine->store->addQuickThought(title);
    QCoreApplication::processEvents();
    QVERIFY(!cloud->log.contains("save"));
    QCOMPARE(machine->kind(), Kind::cloudKitReady); // the quiet period shows nothing yet
    QCOMPARE(machine->quietPeriod, 800ms);
    machine->change([](BoardStore &) {});
    QCOMPARE(cloud->log.count("save"), 1);
    QCOMPARE(titles(cloud->record.board), (QStringList{"3", "2", "1"}));
}

void SyncServiceTest::quietPeriodRunsOnARealTimer()
{
    auto cloud = std::make_shared<MemoryCloud>();
    SyncService service(std::make_unique<MemoryCloudStore>(cloud));
    service.start({}, {});
    QTRY_COMPARE(service.state().kind, Kind::cloudKitReady);
    for (const char *title : {"1", "2"})
        service.scheduleUpload({makeThought(title)});
    QTRY_COMPARE(titles(cloud->record.board), QStringList{"2"});
    QCOMPARE(cloud->log.count("save"), 2); // the launch's and the last change's, never the first's
}

void SyncServiceTest::destroyingTheServiceWithAnswersOutstandingIsSafe()
{
    auto cloud = std::make_shared<MemoryCloud>();
    cloud->answersAtOnce = false;
    {
        SyncService service(std::make_unique<MemoryCloudStore>(cloud));
        service.start({makeThought("x")}, [](const Board &) {});
    }
    while (!cloud->pending.isEmpty())
        cloud->releaseNext();
    QCoreApplication::processEvents();
}

QTEST_GUILESS_MAIN(SyncServiceTest)
#include "tst_syncservice.moc"
