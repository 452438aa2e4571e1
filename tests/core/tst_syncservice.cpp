#include "BoardFixtures.h"
#include "CloudFakes.h"
#include "services/SyncService.h"
#include "services/ThoughtSyncMerge.h"
#include "stores/BoardCodec.h"
#include "stores/BoardStore.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

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

const CloudError refused{CloudError::Kind::credentialsRefused};

// "A1000c~'/n": thought A updated 1000 ms after fixtureNow(), completed ("c"), a tombstone ("~"),
// titled "A'" (the letter and its quotes) with the note "n". A merged board reads back the same
// way, so a comparison shows which side each field of every thought came from.
Board boardOf(const QString &text)
{
    static const QRegularExpression form("^([A-Z])(-?\\d+)(c?)(~?)('*)(?:/(\\w+))?$");
    Board result;
    for (const QString &word : text.split(' ', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch part = form.match(word);
        result.append(Thought{
            QUuid(0x10000000u + word[0].unicode(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
            part.captured(1) + part.captured(5), part.captured(6),
            part.captured(3).isEmpty() ? ThoughtStatus::notStarted : ThoughtStatus::completed,
            fixtureNow().addSecs(-3600), fixtureNow().addMSecs(part.captured(2).toLongLong()),
            !part.captured(4).isEmpty()});
    }
    return result;
}

QString textOf(const Board &board)
{
    QStringList words;
    for (const Thought &t : board) {
        words.append(t.title.left(1) + QString::number(fixtureNow().msecsTo(t.updatedAt)) +
                     (t.status == ThoughtStatus::completed ? "c" : "") + (t.isDeleted ? "~" : "") +
                     t.title.mid(1) + (t.note.isEmpty() ? "" : "/" + t.note));
    }
    return words.join(' ');
}

} // namespace

class SyncServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void mergesWhatEachSideChanged_data();
    void mergesWhatEachSideChanged();
    void launch_data();
    void launch();
    void everyStoreChangeIsUploadedOnceWithTombstones();
    void anEditJustBeforeQuittingSurvivesTheNextLaunch();
    void quittingSendsTheChangeStillWaiting_data();
    void quittingSendsTheChangeStillWaiting();
    void aChangeWaitsForTheSaveOnItsWay();
    void aRecordThatKeepsChangingEndsInFailedAndLosesNothing();
    void unreadableRecordIsMovedAsideByTheNextUpload_data();
    void unreadableRecordIsMovedAsideByTheNextUpload();
    void catchUp_data();
    void catchUp();
    void editsLandAfterTheVersionTheyReplace_data();
    void editsLandAfterTheVersionTheyReplace();
    void threeMachinesConvergeLosingNoOneSidedEdit();
    void anActiveWindowLooksForOtherMachinesWithinSeconds();
    void burstOfChangesUploadsTheLastBoardOnce();
    void quietPeriodRunsOnARealTimer();
    void destroyingTheServiceWithAnswersOutstandingIsSafe();
    void aStoreConnectedLaterMergesTheBoardAsItIsThen();
};

void SyncServiceTest::mergesWhatEachSideChanged_data()
{
    QTest::addColumn<QString>("agreed");
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("cloud");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *agreed, const char *local, const char *cloud,
                        const char *expected) {
        QTest::newRow(name) << agreed << local << cloud << expected;
    };
    // "-" stands for no agreed board at all.
    row("one side changed: taken, even when older", "A0", "A0", "A-5000'", "A0'");
    row("moved here, renamed there: both kept", "A0", "A1000c", "A9000'", "A9000c'");
    row("note here, status there: both kept", "A0", "A1000/n", "A2000c", "A2000c/n");
    row("same field on both sides: the newer", "A0", "A3000''", "A2000'", "A3000''");
    row("same field, same second: the same side on every machine", "A0", "A2400'", "A2000''",
        "A2000''");
    row("sub-second dates compare at whole seconds", "A0", "A700", "A0/n", "A0/n");
    row("deleted here, renamed there: the rename comes back", "A0", "A5000~", "A1000'", "A5000'");
    row("renamed here, deleted there: kept with the rename", "A0", "A1000'", "A5000~", "A5000'");
    row("deleted there, untouched here: deleted", "A0 B0", "A0 B0", "A1000~ B0", "A1000~ B0");
    row("slow clock: an edit stamped before the agreed version still wins", "A9000'", "A2000''",
        "A9000'", "A9000''");
    row("no agreed board: the newer whole", "-", "A1000c", "A2000'", "A2000'");
    row("reordered here: this machine's order", "A0 B0", "B0 A0 C0", "A0 B0 D0", "B0 A0 C0 D0");
    row("not reordered here: the cloud's, new cards in place", "A0 B0", "C0 A0 B0", "B0 A0",
        "B0 C0 A0");
}

void SyncServiceTest::mergesWhatEachSideChanged()
{
    QFETCH(QString, agreed);
    QFETCH(QString, local);
    QFETCH(QString, cloud);
    QFETCH(QString, expected);
    const std::optional<Board> base =
        agreed == "-" ? std::nullopt : std::optional<Board>(boardOf(agreed));
    QCOMPARE(textOf(ThoughtSyncMerge::merge(base, boardOf(local), boardOf(cloud))), expected);
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
                                    "研究 WebDAV 云端同步结构|确定四列看板状态");
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
        "local", Kind::ready);
    row("cloud board merged after the local one", "saved", ok, cloud, "", "pull", "local|cloud",
        "local|cloud", Kind::ready);
    row("fetch fails: nothing applied or uploaded", "saved", ok, cloud, "fetch",
        "accountStatus|fetch", "cloud", "local", Kind::failed);
    row("unreadable record is read again, then left alone at launch", "saved", ok, unreadable, "",
        "accountStatus|fetch|fetch", "", "local", Kind::failed);
    row("upload fails after the merged board was applied", "saved", ok, cloud, "save", "pull",
        "cloud", "local|cloud", Kind::failed);
    row("untouched samples give way to the cloud board", "samples", ok, cloud, "", "pull", "cloud",
        "cloud", Kind::ready);
    row("a sample someone changed is merged like any thought", "touched samples", ok, cloud, "",
        "file|pull", "确定四列看板状态|cloud", "确定四列看板状态|cloud", Kind::ready);
    row("untouched samples fill an empty cloud", "samples", ok, none, "", "pull", "samples",
        "samples", Kind::ready);
    row("a thought added beside untouched samples joins the cloud board alone", "samples, added",
        ok, cloud, "", "file|pull", "added|cloud", "added|cloud", Kind::ready);
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
            store.move(store.thoughts().last().id, ThoughtStatus::inProgress, {});
        })
        : localBoard == "samples, added"
            ? StoreChange([](BoardStore &store) { store.addQuickThought("added"); })
            : StoreChange());
    QCOMPARE(cloud->log, expectedLog);
    QCOMPARE(titles(cloud->record.board), expectedCloud);
    QCOMPARE(titles(machine->store->thoughts()), expectedBoard);
    QCOMPARE(machine->kind(), expectedKind);
    // A failure is the one injected; the only other is a record that does not read.
    if (expectedKind == Kind::failed) {
        QCOMPARE(machine->service->state().problem.kind, failingCall.isEmpty() && account.hasValue()
                                                             ? CloudError::Kind::boardUnreadable
                                                             : refused.kind);
    }
}

void SyncServiceTest::everyStoreChangeIsUploadedOnceWithTombstones()
{
    auto cloud = std::make_shared<MemoryCloud>();
    auto machine =
        makeMachine(cloud, Board{makeThought("A", ThoughtStatus::completed),
                                 makeThought("deleted", ThoughtStatus::completed, 0, true)});
    // A server that does not name the new version: reading the write back changes nothing.
    cloud->savesAnswerWithoutVersion = true;
    cloud->log.clear();
    machine->change([](BoardStore &s) { s.archiveCompleted(); });
    QCOMPARE(cloud->log, (QStringList{"file", "save", "fetch"}));
    QCOMPARE(BoardCodec::encode(cloud->record.board),
             BoardCodec::encode(machine->store->thoughts()));
}

void SyncServiceTest::anEditJustBeforeQuittingSurvivesTheNextLaunch()
{
    // Both edits fall within one second of the clock; the second is made just before quitting,
    // inside the quiet period, so only the board file has it.
    auto cloud = std::make_shared<MemoryCloud>();
    RecordingPersistence agreed;
    const Thought x = makeThought("X");
    auto a = std::make_unique<Machine>(Board{x}, std::make_unique<MemoryCloudStore>(cloud), nullptr,
                                       StoreChange(), &agreed);
    a->store->setClock([] { return fixtureNow().addMSecs(300); });
    a->change([&x](BoardStore &s) { s.update(x, "first", "", x.status); });
    a->store->setClock([] { return fixtureNow().addMSecs(700); });
    a->store->update(a->store->thoughts().first(), "second", "", x.status);
    const Board onDisk = *a->file.stored;
    a.reset();
    Thought elsewhere = cloud->record.board.first(); // meanwhile moved, later, on another machine
    elsewhere.status = ThoughtStatus::completed;
    elsewhere.updatedAt = fixtureNow().addSecs(60);
    cloud->writeFromElsewhere({elsewhere});
    Machine again(onDisk, std::make_unique<MemoryCloudStore>(cloud), nullptr, {}, &agreed);
    for (const Board &board : {again.store->thoughts(), cloud->record.board}) {
        QCOMPARE(board.first().title, "second");
        QCOMPARE(board.first().status, elsewhere.status);
    }
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
    QCOMPARE(machine->kind(), Kind::ready);
}

void SyncServiceTest::aRecordThatKeepsChangingEndsInFailedAndLosesNothing()
{
    // Written by another machine since this one read it, or being written by one right now.
    for (const CloudError::Kind elsewhere :
         {CloudError::Kind::changedElsewhere, CloudError::Kind::lockedElsewhere}) {
        auto cloud = std::make_shared<MemoryCloud>();
        auto machine = makeMachine(cloud, Board());
        cloud->failures.insert("save", elsewhere);
        cloud->log.clear();
        machine->add("kept");
        QCOMPARE(cloud->log.count("save"), SyncService::maxWriteAttempts);
        QCOMPARE(machine->service->state().problem.kind, CloudError::Kind::keptChanging);
        QCOMPARE(titles(*machine->file.stored), QStringList{"kept"});
    }
}

void SyncServiceTest::unreadableRecordIsMovedAsideByTheNextUpload_data()
{
    QTest::addColumn<bool>("tornOnce");
    QTest::newRow("unreadable on every read: moved aside, then written") << false;
    QTest::newRow("torn once by a write on its way: merged, nothing moved") << true;
}

void SyncServiceTest::unreadableRecordIsMovedAsideByTheNextUpload()
{
    QFETCH(bool, tornOnce);
    auto cloud = std::make_shared<MemoryCloud>();
    cloud->record = {CloudSnapshot::Kind::unreadable, {}, "v1", "坏记录"};
    if (tornOnce)
        cloud->writeFromElsewhere({makeThought("cloud")});
    cloud->tornReads = 1;
    auto machine = makeMachine(cloud, Board{makeThought("local")});
    QCOMPARE(machine->kind(), tornOnce ? Kind::ready : Kind::failed);
    if (tornOnce) { // the upload meets a write from elsewhere and reads it again, torn once more
        cloud->tornReads = 1;
        cloud->writeFromElsewhere(cloud->record.board);
    }
    machine->add("next");
    QCOMPARE(cloud->log.contains("moveAside"), !tornOnce);
    const QStringList expected =
        tornOnce ? QStringList{"next", "local", "cloud"} : QStringList{"next", "local"};
    QCOMPARE(titles(cloud->record.board), expected);
    QCOMPARE(machine->kind(), Kind::ready);
    QCOMPARE(machine->service->state().movedAsideAs,
             tornOnce ? QString() : QString("board.unreadable-1.json"));
}

void SyncServiceTest::quittingSendsTheChangeStillWaiting_data()
{
    QTest::addColumn<bool>("serverAnswers");
    QTest::newRow("sent before the process ends") << true;
    QTest::newRow("a server that keeps it waiting: given up, kept in the file") << false;
}

void SyncServiceTest::quittingSendsTheChangeStillWaiting()
{
    QFETCH(bool, serverAnswers);
    auto cloud = std::make_shared<MemoryCloud>();
    auto machine = makeMachine(cloud, Board());
    cloud->answersAtOnce = serverAnswers;
    machine->store->addQuickThought("last");
    QCOMPARE(machine->service->flushPendingUpload(300ms), serverAnswers);
    QCOMPARE(titles(cloud->record.board), serverAnswers ? QStringList{"last"} : QStringList());
    QCOMPARE(titles(*machine->file.stored), QStringList{"last"});
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

void SyncServiceTest::editsLandAfterTheVersionTheyReplace_data()
{
    QTest::addColumn<StoreChange>("change");
    const auto row = [](const char *name, const StoreChange &change) {
        QTest::newRow(name) << change;
    };
    row("edit",
        [](BoardStore &s) { s.update(s.thoughts()[0], "e", "", ThoughtStatus::completed); });
    row("delete", [](BoardStore &s) { s.deleteThought(s.thoughts()[0]); });
    row("move", [](BoardStore &s) { s.advance(s.thoughts()[0].id); });
    row("archive", [](BoardStore &s) { s.archiveCompleted(); });
    row("undo", [](BoardStore &s) {
        Board b = s.thoughts();
        b[0].note = "n";
        s.restore(b);
    });
}

void SyncServiceTest::editsLandAfterTheVersionTheyReplace()
{
    // The version on the board came from a machine whose clock runs ten minutes ahead.
    QFETCH(StoreChange, change);
    RecordingPersistence file;
    file.stored = Board{makeThought("A", ThoughtStatus::completed, 600)};
    BoardStore store(file.persistence());
    store.setClock([] { return fixtureNow(); });
    change(store);
    QCOMPARE(store.thoughts().first().updatedAt, fixtureNow().addSecs(601));
}

void SyncServiceTest::threeMachinesConvergeLosingNoOneSidedEdit()
{
    const auto fieldOf = [](const Thought &t, int field) {
        return QStringList{t.title, t.note, ThoughtStatuses::rawValue(t.status),
                           t.isDeleted ? "deleted" : "live"}[field];
    };
    for (const quint32 seed : {7u, 23u, 1234u}) {
        QRandomGenerator random(seed);
        auto cloud = std::make_shared<MemoryCloud>();
        std::array<RecordingPersistence, 3> agreed;
        std::array<std::unique_ptr<Machine>, 3> machines;
        const auto launch = [&](int at, std::optional<Board> saved) {
            machines[at].reset();
            machines[at] =
                std::make_unique<Machine>(saved, std::make_unique<MemoryCloudStore>(cloud), nullptr,
                                          StoreChange(), &agreed[at]);
            // One clock five minutes slow, one five minutes fast.
            machines[at]->store->setClock(
                [skew = (at - 1) * 300] { return QDateTime::currentDateTimeUtc().addSecs(skew); });
        };
        for (int at = 0; at < 3; ++at)
            launch(at, Board());
        for (int round = 0; round < 15; ++round) {
            // Per thought and field, the value its editors of this round left, and who they were.
            QHash<std::pair<QUuid, int>, std::pair<QString, QSet<int>>> edits;
            for (int step = 0; step < 10; ++step) {
                const int at = int(random.bounded(3));
                BoardStore &store = *machines[at]->store;
                const qsizetype index = random.bounded(store.thoughts().size() + 1);
                const Thought t = store.thoughts().value(index);
                const int action = t.id.isNull() || t.isDeleted ? 0 : int(random.bounded(6));
                const QString word = QString::number(random.bounded(1000));
                if (action == 0)
                    store.addQuickThought(word);
                if (action >= 1 && action <= 3)
                    store.update(t, action == 1 ? word : t.title, action == 2 ? word : t.note,
                                 action == 3 ? ThoughtStatus(random.bounded(4)) : t.status);
                if (action == 4)
                    store.deleteThought(t);
                for (int field = 0; action > 0 && action < 5 && field < 4; ++field) {
                    const Thought &now = store.thoughts()[index]; // edits keep their place
                    if (fieldOf(now, field) != fieldOf(t, field))
                        edits[{t.id, field}] = {fieldOf(now, field),
                                                edits[{t.id, field}].second + QSet{at}};
                }
                if (action == 5)
                    launch(at, machines[at]->file.stored);
                const int moment = int(random.bounded(4));
                cloud->tornReads = moment == 3 ? 1 : 0;
                cloud->savesAnswerWithoutVersion = random.bounded(2);
                if (moment == 0 || moment == 3)
                    machines[at]->change([](BoardStore &) {});
                else if (moment == 1)
                    machines[at]->catchUp();
            }
            for (int pass = 0; pass < 6; ++pass) {
                machines[pass % 3]->change([](BoardStore &) {});
                machines[pass % 3]->catchUp();
            }
            const QString where = QString("seed %1, round %2: ").arg(seed).arg(round);
            for (const auto &machine : machines) {
                QVERIFY2(
                    ThoughtSyncMerge::sameInCloud(machine->store->thoughts(), cloud->record.board),
                    qPrintable(where + "the boards differ"));
            }
            for (const Thought &t : cloud->record.board) {
                for (int field = 0; field < 4; ++field) {
                    const auto edit = edits.value({t.id, field});
                    bool contested = edit.second.size() != 1;
                    // A deletion gives way to another machine's edit.
                    for (int other = 0; field == 3 && other < 3; ++other)
                        contested = contested ||
                                    !(edits.value({t.id, other}).second - edit.second).isEmpty();
                    QVERIFY2(contested || fieldOf(t, field) == edit.first,
                             qPrintable(where + t.title + " lost " + edit.first));
                }
            }
        }
    }
}

void SyncServiceTest::anActiveWindowLooksForOtherMachinesWithinSeconds()
{
    auto cloud = std::make_shared<MemoryCloud>();
    auto machine = makeMachine(cloud, Board());
    const QTimer *looks = machine->service->findChild<QTimer *>();
    machine->service->setWindowActive(true);
    QVERIFY(looks->intervalAsDuration() <= 5s);
    machine->service->setWindowActive(false);
    QVERIFY(looks->intervalAsDuration() >= 1min);

    // A server that keeps failing is asked again only a while after each failure, not at every
    // look: a retry of an upload sends the whole board.
    cloud->failures.insert("version", refused);
    cloud->log.clear();
    machine->service->setRetryAfterFailure(100ms);
    const_cast<QTimer *>(looks)->setInterval(5ms);
    QTest::qWait(650);
    const auto asked = cloud->log.count("version");
    QVERIFY2(asked >= 2 && asked <= 8, qPrintable(QString::number(asked)));
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
    QCOMPARE(machine->kind(), Kind::ready); // the quiet period shows nothing yet
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
    QTRY_COMPARE(service.state().kind, Kind::ready);
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

void SyncServiceTest::aStoreConnectedLaterMergesTheBoardAsItIsThen()
{
    // The agreed board on disk was agreed with another account: this folder's older copy of X is
    // no edit made since, and must not win over the newer one here.
    RecordingPersistence agreed;
    const Thought x = makeThought("X");
    agreed.stored = Board{x};
    Machine machine(agreed.stored, nullptr, nullptr, {}, &agreed);
    machine.add("Y");
    auto cloud = std::make_shared<MemoryCloud>();
    Thought older = x;
    older.title = "X, older";
    older.updatedAt = x.updatedAt.addSecs(-60);
    cloud->writeFromElsewhere({older});
    machine.service->replaceCloudStore(std::make_unique<MemoryCloudStore>(cloud));
    machine.settle();
    QCOMPARE(machine.kind(), Kind::ready);
    QCOMPARE(machine.store->thoughts().size(), 2);
    QCOMPARE(machine.store->thoughts().last().title, "X");
    QCOMPARE(BoardCodec::encode(cloud->record.board),
             BoardCodec::encode(machine.store->thoughts()));

    machine.service->replaceCloudStore(nullptr);
    const int writes = cloud->writes;
    machine.add("Z");
    QCOMPARE(machine.kind(), Kind::localOnly);
    QCOMPARE(machine.store->thoughts().size(), 3);
    QCOMPARE(cloud->writes, writes);
}

QTEST_GUILESS_MAIN(SyncServiceTest)
#include "tst_syncservice.moc"
