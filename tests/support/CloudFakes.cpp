#include "CloudFakes.h"

#include "services/StoreSyncLink.h"
#include "stores/BoardCodec.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

void MemoryCloud::releaseNext()
{
    if (!pending.isEmpty())
        pending.takeFirst()();
}

void MemoryCloud::writeFromElsewhere(const Board &board)
{
    record = CloudSnapshot{
        CloudSnapshot::Kind::board, board, QByteArray::number(++writes) + "-elsewhere", {}};
}

void MemoryCloudStore::answer(const QString &call, std::function<void()> effect,
                              std::function<void(const CloudError &)> fail, bool logged)
{
    if (logged)
        m_cloud->log.append(call);
    auto reply = [cloud = m_cloud, call, effect = std::move(effect), fail = std::move(fail)] {
        if (cloud->failures.contains(call))
            fail(cloud->failures.value(call));
        else
            effect();
    };
    if (m_cloud->answersAtOnce)
        QTimer::singleShot(0, QCoreApplication::instance(), std::move(reply));
    else
        m_cloud->pending.append(std::move(reply));
}

void MemoryCloudStore::accountStatus(AccountStatusCompletion completion)
{
    answer(
        "accountStatus", [completion, cloud = m_cloud] { completion(cloud->accountStatus); },
        completion);
}

void MemoryCloudStore::fetch(FetchCompletion completion)
{
    answer(
        "fetch",
        [completion, cloud = m_cloud] {
            if (cloud->tornReads > 0 && cloud->record.kind == CloudSnapshot::Kind::board) {
                --cloud->tornReads;
                return completion(CloudSnapshot{
                    CloudSnapshot::Kind::unreadable, {}, cloud->record.version, "torn"});
            }
            completion(cloud->record);
        },
        completion);
}

void MemoryCloudStore::version(VersionCompletion completion)
{
    answer(
        "version", [completion, cloud = m_cloud] { completion(cloud->record.version); },
        completion);
}

// Both writes are guarded by the version the machine read, as If-Match guards them on a server.
void MemoryCloudStore::save(const Board &board, const QByteArray &basedOn,
                            SaveCompletion completion)
{
    answer(
        "save",
        [completion, cloud = m_cloud, board, basedOn] {
            if (cloud->record.version != basedOn)
                return completion(CloudError{CloudError::Kind::changedElsewhere});
            // Stored as the record stores it: in the board file's format, whole seconds.
            cloud->record = CloudSnapshot{CloudSnapshot::Kind::board,
                                          *BoardCodec::decode(BoardCodec::encode(board)),
                                          QByteArray::number(++cloud->writes),
                                          {}};
            completion(cloud->savesAnswerWithoutVersion ? QByteArray() : cloud->record.version);
        },
        completion);
}

void MemoryCloudStore::moveAside(const QByteArray &version, MoveAsideCompletion completion)
{
    answer(
        "moveAside",
        [completion, cloud = m_cloud, version] {
            if (cloud->record.version != version)
                return completion(CloudError{CloudError::Kind::changedElsewhere});
            cloud->record = CloudSnapshot{};
            completion(QString("board.unreadable-1.json"));
        },
        completion);
}

Machine::Machine(std::optional<Board> saved, std::unique_ptr<RemoteBoard> cloudStore,
                 QStringList *log, const Change &beforeSync, RecordingPersistence *agreed)
{
    file.stored = std::move(saved);
    BoardPersistence persistence = file.persistence();
    persistence.save = [save = persistence.save, log](const Board &board) {
        if (log)
            log->append("file");
        return save(board);
    };
    store = std::make_unique<BoardStore>(persistence);
    if (beforeSync)
        beforeSync(*store);
    service = std::make_unique<SyncService>(std::move(cloudStore),
                                            agreed ? agreed->persistence() : BoardPersistence());
    service->setRereadDelay(std::chrono::milliseconds(1));
    // The service holds one quiet period at a time; a new one replaces the old.
    service->setStartDelay(
        [this](std::chrono::milliseconds duration, std::function<void()> elapsed) {
            quietPeriod = duration;
            auto pending = std::make_shared<std::function<void()>>(std::move(elapsed));
            quietPeriodElapsed = [pending] {
                if (*pending)
                    std::exchange(*pending, nullptr)();
            };
            return [pending] { *pending = nullptr; };
        });
    linkStoreToSync(*store, *service);
    settle();
}

void Machine::settle() const
{
    QCoreApplication::processEvents();
    if (!QTest::qWaitFor([this] { return !service->hasRoundInFlight(); }, 20000))
        qWarning("the sync round did not end within 20 s");
}

void Machine::elapseQuietPeriod()
{
    if (quietPeriodElapsed)
        std::exchange(quietPeriodElapsed, nullptr)();
}

void Machine::change(const Change &change)
{
    change(*store);
    elapseQuietPeriod();
    settle();
}

void Machine::add(const QString &title)
{
    change([title](BoardStore &s) { s.addQuickThought(title); });
}

void Machine::catchUp()
{
    service->catchUp();
    settle();
}

// Records moved aside are taken in over a real server; here there are none to be found.
void MemoryCloudStore::asides(AsidesCompletion completion)
{
    answer(
        "asides", [completion] { completion(QList<CloudAside>()); }, completion, false);
}

void MemoryCloudStore::fetchAside(const QString &, FetchCompletion completion)
{
    answer(
        "fetchAside", [completion] { completion(CloudSnapshot()); }, completion, false);
}

void MemoryCloudStore::removeAside(const QString &, DoneCompletion completion)
{
    answer(
        "removeAside", [completion] { completion(CloudDone()); }, completion, false);
}
