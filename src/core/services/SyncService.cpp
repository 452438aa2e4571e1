// The service is one state machine: a round reads, merges and writes in steps that answer each
// other, and they read best in one file, past the usual 400 lines.

#include "SyncService.h"

#include "RemoteBoard.h"
#include "ThoughtSyncMerge.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
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

} // namespace

using ThoughtSyncMerge::sameInCloud;

SyncService::SyncService(std::unique_ptr<RemoteBoard> remoteBoard, BoardPersistence agreedBoard,
                         QObject *parent)
    : QObject(parent), m_remoteBoard(std::move(remoteBoard)), m_agreedFile(std::move(agreedBoard))
{
    m_startDelay = [this](std::chrono::milliseconds duration, std::function<void()> elapsed) {
        return startQuietTimer(this, duration, std::move(elapsed));
    };
}

SyncService::~SyncService() = default;

void SyncService::start(const Board &localThoughts, ApplyRemote applyRemote,
                        const Board &untouchedSamples)
{
    if (m_hasStarted)
        return;
    m_hasStarted = true;
    m_applyRemote = std::move(applyRemote);
    m_latest = localThoughts;
    m_untouchedSamples = untouchedSamples;
    if (!m_remoteBoard) {
        setState(State::localOnly());
        return;
    }
    startCatchUpTimer();
    beginRound(Round::launch);
}

void SyncService::replaceCloudStore(std::unique_ptr<RemoteBoard> remoteBoard)
{
    // The old store's requests end with it, unanswered; nothing of its round carries over.
    if (m_cancelQuietPeriod)
        std::exchange(m_cancelQuietPeriod, nullptr)();
    m_remoteBoard = std::move(remoteBoard);
    m_roundInFlight = false;
    m_uploadWaiting = false;
    m_knowsBase = false;
    m_base.clear();
    m_cloudBoard = {};
    m_unreadable.reset();
    m_movedAsideAs.clear();
    m_hasLookedAtAsides = false;
    m_agreedFileApplies = false;
    m_lastInSync = {};
    emit lastInSyncChanged();
    if (!m_remoteBoard || !m_hasStarted) {
        setState(State::localOnly());
        return;
    }
    startCatchUpTimer();
    beginRound(Round::launch);
}

void SyncService::scheduleUpload(const Board &board)
{
    // Kept while local-only too: a store connected later merges the board as it is then.
    m_latest = board;
    if (!m_remoteBoard) {
        setState(State::localOnly());
        return;
    }
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
    if (!m_remoteBoard || !m_hasStarted || m_roundInFlight || m_cancelQuietPeriod ||
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
    m_remoteBoard->version([self](CloudResult<QByteArray> version) {
        if (!self)
            return;
        if (!version.hasValue()) {
            self->finishRound(State::failed(version.error()));
        } else if (version.value() == self->m_base && !version.value().isEmpty()) {
            self->finishRound(State::ready(self->m_movedAsideAs));
        } else {
            self->setState(State::syncing());
            self->fetchAndMerge();
        }
    });
}

void SyncService::setWindowActive(bool active)
{
    m_windowActive = active;
    if (m_catchUpTimer) {
        m_catchUpTimer->setInterval(active ? std::chrono::milliseconds(activeCatchUpInterval)
                                           : std::chrono::milliseconds(catchUpInterval));
    }
}

bool SyncService::flushPendingUpload(std::chrono::milliseconds limit)
{
    if (!m_remoteBoard || !m_hasStarted)
        return true;
    if (m_cancelQuietPeriod) {
        std::exchange(m_cancelQuietPeriod, nullptr)();
        if (m_roundInFlight)
            m_uploadWaiting = true;
        else
            beginRound(Round::upload);
    }
    const QDeadlineTimer deadline(limit);
    while ((m_roundInFlight || m_uploadWaiting) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !m_roundInFlight && !m_uploadWaiting && sameInCloud(m_latest, m_cloudBoard);
}

void SyncService::beginRound(Round round)
{
    m_roundInFlight = true;
    m_round = round;
    m_writeAttempts = 0;
    m_rereads = 0;
    m_unreadable.reset();
    if (round == Round::upload && m_knowsBase) {
        if (sameInCloud(m_latest, m_cloudBoard)) {
            finishRound(State::ready(m_movedAsideAs));
            return;
        }
        setState(State::syncing());
        write();
        return;
    }
    // Nothing merged in this launch yet: the account first, then the record.
    setState(State::syncing());
    QPointer<SyncService> self(this);
    m_remoteBoard->accountStatus([self](CloudResult<CloudAccountStatus> status) {
        if (!self)
            return;
        if (!status.hasValue())
            self->finishRound(State::failed(status.error()));
        else if (status.value() != CloudAccountStatus::available)
            self->finishRound(State::localOnly());
        else
            self->fetchAndMerge();
    });
}

void SyncService::fetchAndMerge()
{
    QPointer<SyncService> self(this);
    m_remoteBoard->fetch([self](CloudResult<CloudSnapshot> fetched) {
        if (!self)
            return;
        if (!fetched.hasValue()) {
            self->finishRound(State::failed(fetched.error()));
            return;
        }
        const CloudSnapshot &snapshot = fetched.value();
        if (snapshot.kind != CloudSnapshot::Kind::unreadable) {
            self->m_unreadable.reset();
            self->mergeSnapshot(snapshot);
        } else {
            self->takeUnreadable(snapshot);
        }
    });
}

void SyncService::takeUnreadable(const CloudSnapshot &snapshot)
{
    // A server that is not atomic answers a read overlapping a write with a torn body under a
    // valid version. Only the same version failing the same way on a later read is a record
    // that cannot be read; anything else is read again, a bounded number of times.
    const bool confirmed = m_unreadable && m_unreadable->version == snapshot.version &&
                           m_unreadable->problem == snapshot.problem;
    if (!confirmed && m_rereads < maxWriteAttempts) {
        ++m_rereads;
        m_unreadable = snapshot;
        QPointer<SyncService> self(this);
        QTimer::singleShot(m_rereadDelay, this, [self] {
            if (self)
                self->fetchAndMerge();
        });
        return;
    }
    m_unreadable.reset();
    if (m_round == Round::upload) {
        moveAsideAndWrite(snapshot.version);
        return;
    }
    finishRound(State::failed({CloudError::Kind::boardUnreadable, {}, 0, snapshot.problem}));
}

void SyncService::mergeSnapshot(const CloudSnapshot &snapshot)
{
    const bool hasRecord = snapshot.kind == CloudSnapshot::Kind::board;
    // Sample thoughts are no one's content: a board already in the cloud replaces them rather
    // than gaining three sample cards on every machine that starts afresh.
    // A thought added before the first merge is the person's own and stays; a sample they have
    // not touched goes, however the board changed around it.
    Board local = m_latest;
    if (hasRecord && !m_untouchedSamples.isEmpty()) {
        local.removeIf(
            [this](const Thought &thought) { return m_untouchedSamples.contains(thought); });
    }
    // The agreed board a launch finds on disk is read only now, off the path to the first frame.
    const std::optional<Board> agreed = m_knowsBase ? std::optional<Board>(m_cloudBoard)
                                        : m_agreedFile.load && m_agreedFileApplies
                                            ? m_agreedFile.load().board
                                            : std::nullopt;
    const Board merged = ThoughtSyncMerge::merge(agreed, local, snapshot.board);
    const bool mustWrite = m_round == Round::launch && m_writeAttempts == 0;
    m_knowsBase = true;
    setAgreed(snapshot.version, snapshot.board);
    m_untouchedSamples.clear();
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
        finishRound(State::ready(m_movedAsideAs));
}

void SyncService::write()
{
    if (!takeWriteAttempt())
        return;
    const Board board = m_latest;
    QPointer<SyncService> self(this);
    m_remoteBoard->save(board, m_base, [self, board](CloudResult<QByteArray> saved) {
        if (!self)
            return;
        if (!saved.hasValue())
            return self->mergeAgainOrFail(saved.error());
        self->setAgreed(saved.value(), board);
        if (saved.value().isEmpty()) {
            // The server did not say which version it now holds. Reading the record back, rather
            // than asking for its version alone, also takes in a board another machine may have
            // written in the moment since.
            self->fetchAndMerge();
            return;
        }
        self->finishRound(State::ready(self->m_movedAsideAs));
    });
}

bool SyncService::takeWriteAttempt()
{
    if (m_writeAttempts >= maxWriteAttempts) {
        finishRound(State::failed({CloudError::Kind::keptChanging}));
        return false;
    }
    ++m_writeAttempts;
    return true;
}

void SyncService::mergeAgainOrFail(const CloudError &error)
{
    // Another machine wrote since this one last read: take its board in and try again.
    if (error.kind == CloudError::Kind::changedElsewhere ||
        error.kind == CloudError::Kind::lockedElsewhere)
        fetchAndMerge();
    else
        finishRound(State::failed(error));
}

void SyncService::moveAsideAndWrite(const QByteArray &unreadableVersion)
{
    if (!takeWriteAttempt())
        return;
    QPointer<SyncService> self(this);
    m_remoteBoard->moveAside(unreadableVersion, [self](CloudResult<QString> moved) {
        if (!self)
            return;
        if (!moved.hasValue())
            return self->mergeAgainOrFail(moved.error());
        self->m_movedAsideAs = moved.value();
        self->m_knowsBase = true;
        self->setAgreed({}, {});
        self->write();
    });
}

void SyncService::takeInAsides()
{
    m_hasLookedAtAsides = true;
    QPointer<SyncService> self(this);
    m_remoteBoard->asides([self](CloudResult<QList<CloudAside>> asides) {
        // A folder that cannot be listed now is looked at again at the next launch.
        if (!self || !asides.hasValue())
            return;
        for (const CloudAside &aside : asides.value())
            self->takeInAside(aside);
    });
}

void SyncService::takeInAside(const CloudAside &aside)
{
    QPointer<SyncService> self(this);
    m_remoteBoard->fetchAside(aside.name, [self, aside](CloudResult<CloudSnapshot> fetched) {
        if (!self || !fetched.hasValue())
            return;
        if (fetched.value().kind == CloudSnapshot::Kind::board) {
            // A record moved aside after reads torn by a server mid-write, say. Nothing tells
            // what it shares with this board, so the newer version of each thought wins.
            const Board merged =
                ThoughtSyncMerge::merge(std::nullopt, self->m_latest, fetched.value().board);
            if (!sameInCloud(merged, self->m_latest)) {
                self->m_latest = merged;
                if (self->m_applyRemote)
                    self->m_applyRemote(merged);
                if (!self)
                    return;
                self->uploadSoon();
            }
        } else if (!aside.movedAt.isValid() ||
                   aside.movedAt.addDays(asideKeptFor.count()) > QDateTime::currentDateTimeUtc()) {
            return;
        }
        // What it held is in the board file now, or it is past keeping.
        self->m_remoteBoard->removeAside(aside.name, [](CloudResult<CloudDone>) {});
    });
}

void SyncService::uploadSoon()
{
    if (m_roundInFlight)
        m_uploadWaiting = true;
    else
        beginRound(Round::upload);
}

void SyncService::setAgreed(const QByteArray &version, const Board &board)
{
    m_base = version;
    if (sameInCloud(board, m_cloudBoard) && !m_cloudBoard.isEmpty())
        return;
    m_cloudBoard = board;
    if (m_agreedFile.save)
        m_agreedFile.save(board);
}

void SyncService::finishRound(const State &state)
{
    m_roundInFlight = false;
    if (state.kind == State::Kind::ready && sameInCloud(m_latest, m_cloudBoard)) {
        m_lastInSync = QDateTime::currentDateTimeUtc();
        emit lastInSyncChanged();
    }
    if (state.kind == State::Kind::failed)
        m_lastFailure.start();
    setState(state);
    if (state.kind == State::Kind::ready && !m_hasLookedAtAsides)
        takeInAsides();
    if (std::exchange(m_uploadWaiting, false))
        beginRound(Round::upload);
}

void SyncService::startCatchUpTimer()
{
    if (m_catchUpTimer)
        return;
    m_catchUpTimer = new QTimer(this);
    connect(m_catchUpTimer, &QTimer::timeout, this, [this] {
        if (m_state.kind == State::Kind::failed &&
            !m_lastFailure.hasExpired(m_retryAfterFailure.count()))
            return;
        catchUp();
    });
    m_catchUpTimer->start(m_windowActive ? std::chrono::milliseconds(activeCatchUpInterval)
                                         : std::chrono::milliseconds(catchUpInterval));
}

void SyncService::setState(const State &state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}
