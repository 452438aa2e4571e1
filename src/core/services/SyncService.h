#pragma once

#include "models/Thought.h"
#include "services/CloudKitThoughtSyncing.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

/// Orders everything between the board store and the cloud record: one pull, merge, apply and
/// upload per launch, then a debounced upload after every change.
///
/// Uploads never overwrite the cloud board with a board that has not been merged with it: until
/// the pull of this launch has merged, a change is folded into the pull instead of being saved on
/// its own, and after a pull that failed the next upload pulls and merges again.
class SyncService : public QObject
{
    Q_OBJECT

public:
    struct State
    {
        enum class Kind { localOnly, cloudKitReady, syncing, failed };

        Kind kind = Kind::localOnly;
        /// The failure's description; empty for every other kind.
        QString message;

        static State localOnly() { return {Kind::localOnly, {}}; }
        static State cloudKitReady() { return {Kind::cloudKitReady, {}}; }
        static State syncing() { return {Kind::syncing, {}}; }
        static State failed(const QString &message) { return {Kind::failed, message}; }

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

    /// Without a cloud store the service stays local-only.
    explicit SyncService(std::unique_ptr<CloudKitThoughtSyncing> cloudKit = nullptr,
                         QObject *parent = nullptr);
    ~SyncService() override;

    State state() const { return m_state; }
    bool hasCloudStore() const { return m_cloudKit != nullptr; }

    /// Starts the one pull of this launch; only the first call does anything.
    virtual void start(const Board &localThoughts, ApplyRemote applyRemote);
    /// Replaces any pending upload with one of \a board after the quiet period.
    virtual void scheduleUpload(const Board &board);

    /// Replaces the monotonic timer behind the quiet period, so tests can run time by hand.
    void setStartDelay(StartDelay startDelay) { m_startDelay = std::move(startDelay); }

signals:
    void stateChanged();

protected:
    void setState(const State &state);

private:
    /// How far the board of this launch has been reconciled with the cloud board.
    enum class Reconciliation { notMerged, pulling, merged };

    struct Upload;

    void pullMergeAndUpload(const Board &localThoughts);
    void finishPullWithoutMerge(const State &state);
    void runUpload(const std::shared_ptr<Upload> &upload, const Board &board);
    void cancelPendingUpload();

    std::unique_ptr<CloudKitThoughtSyncing> m_cloudKit;
    State m_state;
    bool m_hasStarted = false;
    ApplyRemote m_applyRemote;
    Reconciliation m_reconciliation = Reconciliation::notMerged;
    /// The newest local board seen while a pull is on its way; it is what the pull merges.
    Board m_pullLocalThoughts;
    std::shared_ptr<Upload> m_uploadTask;
    StartDelay m_startDelay;
};
