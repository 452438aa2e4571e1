#include "SyncService.h"

#include "CloudKitThoughtSyncing.h"
#include "ThoughtSyncMerge.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSettings>
#include <QTimer>

namespace {

SyncService::CancelDelay startQuietTimer(QObject *owner, std::chrono::milliseconds duration,
                                         std::function<void()> elapsed)
{
    QPointer<QTimer> timer = new QTimer(owner);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, elapsed = std::move(elapsed)] {
        timer->deleteLater();
        elapsed();
    });
    timer->start(duration);
    return [timer] {
        if (timer) {
            timer->stop();
            timer->deleteLater();
        }
    };
}

QDateTime wholeSeconds(const QDateTime &date)
{
    return date.addMSecs(-date.time().msec());
}

/// Whether two thoughts are the same once written: the record keeps whole seconds, so a local
/// date with milliseconds equals its copy read back from the cloud.
bool sameInCloud(Thought lhs, Thought rhs)
{
    lhs.createdAt = wholeSeconds(lhs.createdAt);
    lhs.updatedAt = wholeSeconds(lhs.updatedAt);
    rhs.createdAt = wholeSeconds(rhs.createdAt);
    rhs.updatedAt = wholeSeconds(rhs.updatedAt);
    return lhs == rhs;
}

bool sameInCloud(const Board &lhs, const Board &rhs)
{
    return std::equal(lhs.cbegin(), lhs.cend(), rhs.cbegin(), rhs.cend(),
                      [](const Thought &l, const Thought &r) { return sameInCloud(l, r); });
}

/// The ids of \a board that \a other holds too, in \a board's order.
QList<QUuid> sharedOrder(const Board &board, const Board &other)
{
    QSet<QUuid> otherIds;
    for (const Thought &thought : other)
        otherIds.insert(thought.id);
    QList<QUuid> order;
    for (const Thought &thought : board) {
        if (otherIds.contains(thought.id))
            order.append(thought.id);
    }
    return order;
}

/// The board in the cloud's order: thoughts only this machine holds keep their place before the
/// thought that followed them here.
Board inCloudOrder(const Board &local, const Board &remote)
{
    const Board newest = ThoughtSyncMerge::merge(remote, local);
    QSet<QUuid> inCloud;
    for (const Thought &thought : remote)
        inCloud.insert(thought.id);
    QHash<QUuid, Board> placedBefore;
    Board waiting;
    for (const Thought &thought : local) {
        if (!inCloud.contains(thought.id))
            waiting.append(thought);
        else if (!waiting.isEmpty())
            placedBefore.insert(thought.id, std::exchange(waiting, {}));
    }
    Board merged;
    merged.reserve(newest.size());
    for (const Thought &thought : newest) {
        if (!inCloud.contains(thought.id))
            continue;
        merged.append(placedBefore.value(thought.id));
        merged.append(thought);
    }
    merged.append(waiting);
    return merged;
}

/// Merges the cloud board into this machine's, the newest edit of every thought winning, at the
/// whole seconds the record keeps. \a base is the cloud board as this machine last synced it.
///
/// Two edits of one thought within the same second look equally new; were each machine to keep
/// its own, they would overwrite each other for ever. The cloud's wins unless the cloud still
/// holds what this machine last synced, in which case the edit made here is the newer one.
/// The order is this machine's where it reordered since it last synced (and at the first merge
/// of a launch), otherwise the cloud's, so that two machines agree on one order too.
Board mergeWithCloud(const Board &localBoard, const Board &remote, const Board &base,
                     bool keepsLocalOrder)
{
    Board local = localBoard;
    for (Thought &thought : local) {
        thought.createdAt = wholeSeconds(thought.createdAt);
        thought.updatedAt = wholeSeconds(thought.updatedAt);
    }
    Board merged =
        keepsLocalOrder ? ThoughtSyncMerge::merge(local, remote) : inCloudOrder(local, remote);

    QHash<QUuid, qsizetype> newestInCloud;
    for (qsizetype i = 0; i < remote.size(); ++i) {
        const auto held = newestInCloud.constFind(remote[i].id);
        if (held == newestInCloud.cend() || remote[i].updatedAt > remote[*held].updatedAt)
            newestInCloud.insert(remote[i].id, i);
    }
    QHash<QUuid, const Thought *> here;
    for (const Thought &thought : local)
        here.insert(thought.id, &thought);
    QHash<QUuid, const Thought *> synced;
    for (const Thought &thought : base)
        synced.insert(thought.id, &thought);
    for (Thought &thought : merged) {
        const auto inCloud = newestInCloud.constFind(thought.id);
        const Thought *mine = here.value(thought.id);
        if (inCloud == newestInCloud.cend() || !mine)
            continue;
        const Thought &cloudThought = remote[*inCloud];
        if (cloudThought.updatedAt != mine->updatedAt || sameInCloud(cloudThought, *mine))
            continue;
        const Thought *lastSynced = synced.value(thought.id);
        const bool cloudUnchanged = lastSynced && sameInCloud(*lastSynced, cloudThought);
        thought = cloudUnchanged ? *mine : cloudThought;
    }
    return merged;
}

} // namespace

SyncService::SyncService(std::unique_ptr<CloudKitThoughtSyncing> cloudKit,
                         std::unique_ptr<QSettings> memory, QObject *parent)
    : QObject(parent), m_cloudKit(std::move(cloudKit)), m_memory(std::move(memory))
{
    m_startDelay = [this](std::chrono::milliseconds duration, std::function<void()> elapsed) {
        return startQuietTimer(this, duration, std::move(elapsed));
    };
}

SyncService::~SyncService() = default;

void SyncService::start(const Board &localThoughts, ApplyRemote applyRemote, LocalBoard origin)
{
    if (m_hasStarted)
        return;
    m_hasStarted = true;
    m_applyRemote = std::move(applyRemote);
    m_latest = localThoughts;
    m_localIsUntouchedSamples = origin == LocalBoard::untouchedSamples;
    if (!m_cloudKit) {
        setState(State::localOnly());
        return;
    }
    startCatchUpTimer();
    beginRound(Round::launch);
}

void SyncService::scheduleUpload(const Board &board)
{
    if (!m_cloudKit) {
        setState(State::localOnly());
        return;
    }
    m_latest = board;
    m_localIsUntouchedSamples = false;
    if (m_cancelQuietPeriod)
        std::exchange(m_cancelQuietPeriod, nullptr)();
    QPointer<SyncService> self(this);
    m_cancelQuietPeriod = m_startDelay(quietPeriod, [self] {
        if (!self)
            return;
        self->m_cancelQuietPeriod = nullptr;
        if (self->m_roundInFlight)
            self->m_uploadWaiting = true;
        else
            self->beginRound(Round::upload);
    });
}

void SyncService::catchUp()
{
    if (!m_cloudKit || !m_hasStarted || m_roundInFlight || m_cancelQuietPeriod ||
        m_state.kind == State::Kind::localOnly)
        return;
    if (!m_knowsBase) {
        beginRound(Round::catchUp);
        return;
    }
    if (!sameInCloud(m_latest, m_cloudBoard)) {
        // An earlier upload did not get through: this is its retry.
        beginRound(Round::upload);
        return;
    }
    m_roundInFlight = true;
    m_round = Round::catchUp;
    m_writeAttempts = 0;
    QPointer<SyncService> self(this);
    m_cloudKit->version([self](CloudResult<QByteArray> version) {
        if (!self)
            return;
        if (!version.hasValue()) {
            self->finishRound(State::failed(version.error().localizedDescription));
        } else if (version.value() == self->m_base && !version.value().isEmpty()) {
            self->finishRound(State::cloudKitReady(self->m_notice));
        } else {
            self->setState(State::syncing());
            self->fetchAndMerge();
        }
    });
}

void SyncService::beginRound(Round round)
{
    m_roundInFlight = true;
    m_round = round;
    m_writeAttempts = 0;
    if (round == Round::upload && m_knowsBase) {
        if (sameInCloud(m_latest, m_cloudBoard)) {
            finishRound(State::cloudKitReady(m_notice));
            return;
        }
        setState(State::syncing());
        write();
        return;
    }
    // Nothing merged in this launch yet: the account first, then the record.
    setState(State::syncing());
    QPointer<SyncService> self(this);
    m_cloudKit->accountStatus([self](CloudResult<CloudAccountStatus> status) {
        if (!self)
            return;
        if (!status.hasValue())
            self->finishRound(State::failed(status.error().localizedDescription));
        else if (status.value() != CloudAccountStatus::available)
            self->finishRound(State::localOnly());
        else
            self->fetchAndMerge();
    });
}

void SyncService::fetchAndMerge()
{
    QPointer<SyncService> self(this);
    m_cloudKit->fetch([self](CloudResult<CloudSnapshot> fetched) {
        if (!self)
            return;
        if (!fetched.hasValue()) {
            self->finishRound(State::failed(fetched.error().localizedDescription));
            return;
        }
        const CloudSnapshot &snapshot = fetched.value();
        if (snapshot.kind != CloudSnapshot::Kind::unreadable) {
            self->mergeSnapshot(snapshot);
        } else if (self->m_round == Round::upload) {
            self->moveAsideAndWrite(snapshot.version);
        } else {
            self->finishRound(
                State::failed(QStringLiteral("%1。没有合并也没有上传；下次修改看板时，Lumaret "
                                             "会把它改名保留在云端文件夹中，再上传本机的看板")
                                  .arg(snapshot.problem)));
        }
    });
}

void SyncService::mergeSnapshot(const CloudSnapshot &snapshot)
{
    const bool hasRecord = snapshot.kind == CloudSnapshot::Kind::board;
    // Sample thoughts are no one's content: a board already in the cloud replaces them rather
    // than gaining three sample cards on every machine that starts afresh.
    const Board local = hasRecord && m_localIsUntouchedSamples ? Board() : m_latest;
    // The first merge of a launch keeps this machine's order, as does one after a reorder here.
    const bool keepsLocalOrder =
        !m_knowsBase || sharedOrder(local, m_cloudBoard) != sharedOrder(m_cloudBoard, local);
    // At launch the board last synced is not known, but when the record is still at the version
    // this machine left it, the cloud holds nothing newer than this machine's board: an edit made
    // here in the same second as the cloud's copy, just before the last quit, is the newer one.
    const bool cloudAsLeftHere =
        m_memory && !snapshot.version.isEmpty() &&
        m_memory->value(recordVersionKey()).toByteArray() == snapshot.version;
    const Board merged = mergeWithCloud(
        local, snapshot.board, cloudAsLeftHere ? snapshot.board : m_cloudBoard, keepsLocalOrder);
    const bool mustWrite = m_round == Round::launch && m_writeAttempts == 0;
    m_knowsBase = true;
    setBase(snapshot.version);
    m_cloudBoard = snapshot.board;
    if (hasRecord)
        m_localIsUntouchedSamples = false;
    // A merge that differs only by the milliseconds the record does not keep changes nothing here.
    if (mustWrite || !sameInCloud(merged, m_latest)) {
        m_latest = merged;
        QPointer<SyncService> self(this);
        if (m_applyRemote)
            m_applyRemote(merged);
        if (!self)
            return;
    }
    if (mustWrite || !hasRecord || !sameInCloud(merged, snapshot.board))
        write();
    else
        finishRound(State::cloudKitReady(m_notice));
}

void SyncService::write()
{
    if (!takeWriteAttempt())
        return;
    const Board board = m_latest;
    QPointer<SyncService> self(this);
    m_cloudKit->save(board, m_base, [self, board](CloudResult<QByteArray> saved) {
        if (!self)
            return;
        if (!saved.hasValue())
            return self->mergeAgainOrFail(saved.error());
        self->m_cloudBoard = board;
        if (saved.value().isEmpty()) {
            // The server did not say which version it now holds. Reading the record back, rather
            // than asking for its version alone, also takes in a board another machine may have
            // written in the moment since.
            self->fetchAndMerge();
            return;
        }
        self->setBase(saved.value());
        self->finishRound(State::cloudKitReady(self->m_notice));
    });
}

bool SyncService::takeWriteAttempt()
{
    if (m_writeAttempts >= maxWriteAttempts) {
        finishRound(State::failed(QStringLiteral(
            "云端看板在上传时被其他设备反复修改，这次没有同步完成。本机的修改已保存，"
            "稍后会再次同步")));
        return false;
    }
    ++m_writeAttempts;
    return true;
}

void SyncService::mergeAgainOrFail(const CloudError &error)
{
    // Another machine wrote since this one last read: take its board in and try again.
    if (error.code == CloudErrorCode::serverRecordChanged)
        fetchAndMerge();
    else
        finishRound(State::failed(error.localizedDescription));
}

void SyncService::moveAsideAndWrite(const QByteArray &unreadableVersion)
{
    if (!takeWriteAttempt())
        return;
    QPointer<SyncService> self(this);
    m_cloudKit->moveAside(unreadableVersion, [self](CloudResult<QString> moved) {
        if (!self)
            return;
        if (!moved.hasValue())
            return self->mergeAgainOrFail(moved.error());
        self->m_notice =
            QStringLiteral("云端原有的看板记录无法读取，已改名为 %1 保留在云端文件夹中")
                .arg(moved.value());
        self->m_knowsBase = true;
        self->setBase({});
        self->m_cloudBoard.clear();
        self->write();
    });
}

void SyncService::setBase(const QByteArray &version)
{
    m_base = version;
    if (m_memory)
        m_memory->setValue(recordVersionKey(), version);
}

void SyncService::finishRound(const State &state)
{
    m_roundInFlight = false;
    setState(state);
    if (std::exchange(m_uploadWaiting, false))
        beginRound(Round::upload);
}

void SyncService::startCatchUpTimer()
{
    if (m_catchUpTimer)
        return;
    m_catchUpTimer = new QTimer(this);
    connect(m_catchUpTimer, &QTimer::timeout, this, &SyncService::catchUp);
    m_catchUpTimer->start(catchUpInterval);
}

void SyncService::setState(const State &state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}
