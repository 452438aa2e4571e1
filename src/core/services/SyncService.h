#pragma once

#include "models/Thought.h"
#include "services/RemoteBoard.h"
#include "stores/BoardPersistence.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

/// Orders everything between the board store and the cloud record: one pull, merge, apply and
/// upload per launch, a debounced upload after every change, and a catch-up with the other
/// machines while the window stays open.
///
/// The cloud board is never replaced by a board that has not been merged with it. Every write is
/// guarded by the record version this machine last merged or wrote; when another machine wrote in
/// between, the service fetches the record, merges it with the board as it is now, applies the
/// result locally and writes again, a bounded number of times. Only one round of reading and
/// writing is on its way at a time: a change made meanwhile waits for it and follows.
class SyncService : public QObject
{
    Q_OBJECT

public:
    struct State
    {
        enum class Kind { localOnly, ready, syncing, failed };

        Kind kind = Kind::localOnly;
        /// What went wrong, for a failed state.
        CloudError problem;
        /// For a ready state: the name under which the last sync kept a cloud board it could not
        /// read, beside the board in the cloud folder.
        QString movedAsideAs;

        static State localOnly() { return {Kind::localOnly, {}, {}}; }
        static State ready(const QString &movedAsideAs = {})
        {
            return {Kind::ready, {}, movedAsideAs};
        }
        static State syncing() { return {Kind::syncing, {}, {}}; }
        static State failed(const CloudError &problem) { return {Kind::failed, problem, {}}; }

        friend bool operator==(const State &, const State &) = default;
    };

    using ApplyRemote = std::function<void(const Board &)>;

    /// Cancels a started delay; does nothing once the delay has elapsed or was cancelled.
    using CancelDelay = std::function<void()>;
    /// Calls \a elapsed once after \a duration on the GUI thread, unless cancelled first.
    using StartDelay = std::function<CancelDelay(std::chrono::milliseconds duration,
                                                 std::function<void()> elapsed)>;

    /// How long the board must stay unchanged before it is uploaded.
    static constexpr std::chrono::milliseconds quietPeriod{800};
    /// How often a window in the background looks for boards written by other machines.
    static constexpr std::chrono::minutes catchUpInterval{3};
    /// How often the active window looks: another machine's change shows within seconds.
    static constexpr std::chrono::seconds activeCatchUpInterval{4};
    /// How long after a record that did not decode it is read again; a body torn by a write on
    /// its way decodes the second time.
    static constexpr std::chrono::seconds rereadDelay{2};
    /// How long after a failed round the catch-up asks a failing server again: each retry of an
    /// upload sends the whole board.
    static constexpr std::chrono::seconds retryAfterFailure{30};
    /// How many writes (or moves aside) one round tries before it gives up on a record that keeps
    /// changing.
    static constexpr int maxWriteAttempts = 3;
    /// How long a record moved aside that still cannot be read is kept in the cloud folder for
    /// the person to recover by hand.
    static constexpr std::chrono::days asideKeptFor{30};

    /// Without a cloud store the service stays local-only. \a agreedBoard, when given, keeps
    /// the board as this machine and the cloud last agreed on it across launches, so that the
    /// first merge of a launch knows what each side changed since.
    explicit SyncService(std::unique_ptr<RemoteBoard> remoteBoard = nullptr,
                         BoardPersistence agreedBoard = {}, QObject *parent = nullptr);
    ~SyncService() override;

    State state() const { return m_state; }
    bool hasCloudStore() const { return m_remoteBoard != nullptr; }
    /// Whether a round of reading and writing the cloud record is on its way.
    bool hasRoundInFlight() const { return m_roundInFlight; }

    /// Starts the one pull of this launch; only the first call does anything. \a untouchedSamples
    /// are the sample thoughts of a first start that nobody has changed: no one's content, so a
    /// board already in the cloud replaces them, while anything else on the board is merged.
    virtual void start(const Board &localThoughts, ApplyRemote applyRemote,
                       const Board &untouchedSamples = {});
    /// Syncs with \a remoteBoard from now on, starting with a launch merge at once when the service
    /// has started; nothing (or a null store) stops sync and leaves the board as it is. What was
    /// agreed with a previous store is not taken as agreed with this one.
    void replaceCloudStore(std::unique_ptr<RemoteBoard> remoteBoard);
    /// Replaces any pending upload with one of \a board after the quiet period.
    virtual void scheduleUpload(const Board &board);
    /// Looks whether another machine changed the cloud board and, if so, merges it in. Costs one
    /// small request when nothing changed; does nothing while local-only or while a sync is on
    /// its way.
    void catchUp();
    /// Looks for other machines' boards every few seconds while \a active, otherwise every few
    /// minutes.
    void setWindowActive(bool active);
    /// Sends a change still in its quiet period now and waits, running the event loop, until the
    /// cloud has it or \a limit has passed. Returns whether nothing is left unsent; a change
    /// left over stays in the board file and goes out at the next launch.
    bool flushPendingUpload(std::chrono::milliseconds limit);
    /// When this machine and the cloud last held the same board; invalid before the first time.
    QDateTime lastInSync() const { return m_lastInSync; }

    /// Replaces the monotonic timer behind the quiet period, so tests can run time by hand.
    void setStartDelay(StartDelay startDelay) { m_startDelay = std::move(startDelay); }
    void setRereadDelay(std::chrono::milliseconds delay) { m_rereadDelay = delay; }
    void setRetryAfterFailure(std::chrono::milliseconds delay) { m_retryAfterFailure = delay; }

signals:
    void stateChanged();
    void lastInSyncChanged();

protected:
    void setState(const State &state);

private:
    /// Why a round runs; it decides whether the round reads first and whether it always writes.
    enum class Round { launch, upload, catchUp };

    void beginRound(Round round);
    void fetchAndMerge();
    void mergeSnapshot(const CloudSnapshot &snapshot);
    void takeUnreadable(const CloudSnapshot &snapshot);
    void write();
    void moveAsideAndWrite(const QByteArray &unreadableVersion);
    /// Merges the records moved aside that read whole now and removes them, and removes those
    /// past asideKeptFor.
    void takeInAsides();
    void takeInAside(const CloudAside &aside);
    void uploadSoon();
    /// Counts one more write (or move) in this round; ends the round failed past the bound.
    bool takeWriteAttempt();
    void mergeAgainOrFail(const CloudError &error);
    void finishRound(const State &state);
    void startCatchUpTimer();
    void setAgreed(const QByteArray &version, const Board &board);

    std::unique_ptr<RemoteBoard> m_remoteBoard;
    State m_state;
    bool m_hasStarted = false;
    ApplyRemote m_applyRemote;
    /// The sample thoughts of a first start, as they were handed over, until the first merge.
    Board m_untouchedSamples;

    /// The newest board of the store; every round reads and writes this one.
    Board m_latest;
    /// Whether the record's version this machine last merged or wrote is known, and that version
    /// (empty: there was no record).
    bool m_knowsBase = false;
    QByteArray m_base;
    /// The board the cloud holds at m_base, as far as this machine knows: the board both last
    /// agreed on, the base of the next merge.
    Board m_cloudBoard;
    BoardPersistence m_agreedFile;
    /// Whether the agreed board on disk was agreed with the current store.
    bool m_agreedFileApplies = true;
    /// The unreadable record as first read in this round, until a re-read confirms it.
    std::optional<CloudSnapshot> m_unreadable;
    int m_rereads = 0;
    std::chrono::milliseconds m_rereadDelay = rereadDelay;
    std::chrono::milliseconds m_retryAfterFailure = retryAfterFailure;
    QDateTime m_lastInSync;
    bool m_windowActive = false;
    bool m_hasLookedAtAsides = false;
    /// When the last round failed.
    QElapsedTimer m_lastFailure;

    bool m_roundInFlight = false;
    Round m_round = Round::launch;
    int m_writeAttempts = 0;
    QString m_movedAsideAs;
    /// A change waits for the round on its way and follows it.
    bool m_uploadWaiting = false;
    CancelDelay m_cancelQuietPeriod;
    StartDelay m_startDelay;
    QTimer *m_catchUpTimer = nullptr;
};
