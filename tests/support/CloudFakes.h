#pragma once

#include "services/CloudKitThoughtSyncing.h"
#include "services/SyncService.h"

#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

/// One board record kept in memory, shared by the machines of a test, with a version that moves
/// on every write and the guards a careful WebDAV server applies.
struct MemoryCloud
{
    CloudResult<CloudAccountStatus> accountStatus = CloudAccountStatus::available;
    CloudSnapshot record;
    int writes = 0;
    /// Every call, in order, by every machine: "accountStatus", "fetch", "save", "version",
    /// "moveAside"; tests add their own entries ("apply") to check order.
    QStringList log;
    /// Fails every call whose name is a key with that error.
    QHash<QString, CloudError> failures;
    /// When true, the server does not name the new version after a write, as Apache does.
    bool savesAnswerWithoutVersion = false;
    /// When false, every call waits in pending until the test releases it.
    bool answersAtOnce = true;
    QList<std::function<void()>> pending;

    void releaseNext();
    /// Writes \a board as another machine would, moving the version on.
    void writeFromElsewhere(const Board &board);
};

/// A machine's view of a MemoryCloud. Answers given "at once" still arrive through the event
/// loop, never inside the call; each call takes effect when its answer arrives.
class MemoryCloudStore : public CloudKitThoughtSyncing
{
public:
    explicit MemoryCloudStore(std::shared_ptr<MemoryCloud> cloud) : m_cloud(std::move(cloud)) {}

    void accountStatus(AccountStatusCompletion completion) override;
    void fetch(FetchCompletion completion) override;
    void save(const Board &board, const QByteArray &basedOn, SaveCompletion completion) override;
    void version(VersionCompletion completion) override;
    void moveAside(const QByteArray &version, MoveAsideCompletion completion) override;

private:
    /// Runs \a effect when the answer is due, unless the call is scripted to fail.
    void answer(const QString &call, std::function<void()> effect,
                std::function<void(const CloudError &)> fail);

    std::shared_ptr<MemoryCloud> m_cloud;
};

/// A monotonic clock the test moves by hand, standing in for the quiet-period timer.
class ManualDelays
{
public:
    SyncService::StartDelay startDelay();
    /// Moves time on by \a duration, firing every delay that falls due, earliest first.
    void advance(std::chrono::milliseconds duration);
    int pendingCount() const;

private:
    struct Delay
    {
        std::chrono::milliseconds dueAt;
        std::function<void()> elapsed;
        bool isCancelled = false;
    };

    std::chrono::milliseconds m_now{0};
    std::shared_ptr<QList<std::shared_ptr<Delay>>> m_delays =
        std::make_shared<QList<std::shared_ptr<Delay>>>();
};
