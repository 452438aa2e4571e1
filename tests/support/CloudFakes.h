#pragma once

#include "services/CloudKitThoughtSyncing.h"
#include "services/SyncService.h"

#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

/// What an in-memory cloud store answers and what was asked of it. The store is handed over to
/// the sync service, so tests keep this shared script to steer it and read its log.
struct CloudScript
{
    CloudResult<CloudAccountStatus> accountStatus = CloudAccountStatus::available;
    CloudResult<std::optional<Board>> fetch = std::optional<Board>();
    CloudResult<CloudDone> save = CloudDone{};

    /// When false, every call waits in pending until the test releases it.
    bool answersAtOnce = true;
    /// "accountStatus", "fetch", "save"; tests add their own entries ("apply") to check order.
    QStringList log;
    QList<Board> savedBoards;
    /// Answers not yet given, oldest first.
    QList<std::function<void()>> pending;

    /// Gives the oldest held answer.
    void releaseNext();
    void releaseAll();
};

/// A cloud store kept in memory, answering as its script says. Answers given "at once" still
/// arrive through the event loop, never inside the call.
class FakeCloudStore : public CloudKitThoughtSyncing
{
public:
    explicit FakeCloudStore(std::shared_ptr<CloudScript> script) : m_script(std::move(script)) {}

    void accountStatus(AccountStatusCompletion completion) override;
    void fetch(FetchCompletion completion) override;
    void save(const Board &board, SaveCompletion completion) override;

private:
    void answer(std::function<void()> reply);

    std::shared_ptr<CloudScript> m_script;
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
