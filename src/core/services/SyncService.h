#pragma once

#include "models/Thought.h"
#include "services/CloudKitThoughtSyncing.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

/// Orders everything between the board store and the cloud record: one pull, merge, apply and
/// upload per launch, then a debounced upload after every change.
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

signals:
    void stateChanged();

protected:
    void setState(const State &state);

private:
    std::unique_ptr<CloudKitThoughtSyncing> m_cloudKit;
    State m_state;
    bool m_hasStarted = false;
};
