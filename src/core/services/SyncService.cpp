#include "SyncService.h"

#include "CloudKitThoughtSyncing.h"
#include "ThoughtSyncMerge.h"

#include <QPointer>
#include <QTimer>

/// One scheduled upload. Cancelling it only matters while it waits out the quiet period; once its
/// save has been sent it runs to the end and reports like any other.
struct SyncService::Upload
{
    CancelDelay cancelDelay;
    bool isCancelled = false;
    bool hasBegun = false;
};

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

SyncService::SyncService(std::unique_ptr<CloudKitThoughtSyncing> cloudKit, QObject *parent)
    : QObject(parent), m_cloudKit(std::move(cloudKit))
{
    m_startDelay = [this](std::chrono::milliseconds duration, std::function<void()> elapsed) {
        return startQuietTimer(this, duration, std::move(elapsed));
    };
}

SyncService::~SyncService() = default;

void SyncService::start(const Board &localThoughts, ApplyRemote applyRemote)
{
    if (m_hasStarted)
        return;
    m_hasStarted = true;
    m_applyRemote = std::move(applyRemote);
    pullMergeAndUpload(localThoughts);
}

void SyncService::pullMergeAndUpload(const Board &localThoughts)
{
    if (!m_cloudKit) {
        setState(State::localOnly());
        return;
    }
    m_reconciliation = Reconciliation::pulling;
    m_pullLocalThoughts = localThoughts;
    setState(State::syncing());

    QPointer<SyncService> self(this);
    m_cloudKit->accountStatus([self](CloudResult<CloudAccountStatus> status) {
        if (!self)
            return;
        if (!status.hasValue()) {
            self->finishPullWithoutMerge(State::failed(status.error().localizedDescription));
            return;
        }
        if (status.value() != CloudAccountStatus::available) {
            self->finishPullWithoutMerge(State::localOnly());
            return;
        }
        self->m_cloudKit->fetch([self](CloudResult<std::optional<Board>> fetched) {
            if (!self)
                return;
            if (!fetched.hasValue()) {
                self->finishPullWithoutMerge(State::failed(fetched.error().localizedDescription));
                return;
            }
            const Board remote = fetched.value().value_or(Board());
            // Merged from the newest local board, not the one the pull began with: a change made
            // while the cloud answered must not be replaced by the merge.
            const Board merged = ThoughtSyncMerge::merge(self->m_pullLocalThoughts, remote);
            self->m_pullLocalThoughts.clear();
            self->m_reconciliation = Reconciliation::merged;
            // A pending upload holds an older board than the merged one, which is saved below.
            self->cancelPendingUpload();
            if (self->m_applyRemote)
                self->m_applyRemote(merged);
            if (!self)
                return;
            self->m_cloudKit->save(merged, [self](CloudResult<CloudDone> saved) {
                if (!self)
                    return;
                self->setState(saved.hasValue()
                                   ? State::cloudKitReady()
                                   : State::failed(saved.error().localizedDescription));
            });
        });
    });
}

void SyncService::finishPullWithoutMerge(const State &state)
{
    // Changes folded into this pull are on disk already; the next change pulls and merges again
    // and carries them up with it.
    m_reconciliation = Reconciliation::notMerged;
    m_pullLocalThoughts.clear();
    setState(state);
}

void SyncService::scheduleUpload(const Board &board)
{
    if (!m_cloudKit) {
        setState(State::localOnly());
        return;
    }
    if (m_reconciliation == Reconciliation::pulling) {
        m_pullLocalThoughts = board;
        return;
    }
    cancelPendingUpload();

    auto upload = std::make_shared<Upload>();
    m_uploadTask = upload;
    std::weak_ptr<Upload> weakUpload = upload;
    QPointer<SyncService> self(this);
    upload->cancelDelay = m_startDelay(quietPeriod, [self, weakUpload, board] {
        const std::shared_ptr<Upload> elapsed = weakUpload.lock();
        if (!self || !elapsed || elapsed->isCancelled)
            return;
        self->runUpload(elapsed, board);
    });
}

void SyncService::runUpload(const std::shared_ptr<Upload> &upload, const Board &board)
{
    upload->hasBegun = true;
    if (m_uploadTask == upload)
        m_uploadTask.reset();
    if (m_reconciliation == Reconciliation::pulling) {
        m_pullLocalThoughts = board;
        return;
    }
    if (m_reconciliation == Reconciliation::notMerged) {
        // The cloud board has not been merged in this launch (the pull failed or found no
        // account): saving this board alone could drop what only the cloud holds.
        pullMergeAndUpload(board);
        return;
    }
    setState(State::syncing());
    QPointer<SyncService> self(this);
    m_cloudKit->save(board, [self](CloudResult<CloudDone> saved) {
        if (!self)
            return;
        self->setState(saved.hasValue() ? State::cloudKitReady()
                                        : State::failed(saved.error().localizedDescription));
    });
}

void SyncService::cancelPendingUpload()
{
    const std::shared_ptr<Upload> pending = std::exchange(m_uploadTask, nullptr);
    if (!pending || pending->hasBegun)
        return;
    pending->isCancelled = true;
    if (pending->cancelDelay)
        pending->cancelDelay();
}

void SyncService::setState(const State &state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}
