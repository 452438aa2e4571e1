#pragma once

#include "BoardFixtures.h"
#include "services/RemoteBoard.h"
#include "services/SyncService.h"
#include "stores/BoardStore.h"

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
    /// How many of the next reads answer a body torn by a write on its way, under the record's
    /// own version, as a server that is not atomic does.
    int tornReads = 0;
    /// When false, every call waits in pending until the test releases it.
    bool answersAtOnce = true;
    QList<std::function<void()>> pending;

    void releaseNext();
    /// Writes \a board as another machine would, moving the version on.
    void writeFromElsewhere(const Board &board);
};

/// A machine's view of a MemoryCloud. Answers given "at once" still arrive through the event
/// loop, never inside the call; each call takes effect when its answer arrives.
class MemoryCloudStore : public RemoteBoard
{
public:
    explicit MemoryCloudStore(std::shared_ptr<MemoryCloud> cloud) : m_cloud(std::move(cloud)) {}

    void accountStatus(AccountStatusCompletion completion) override;
    void fetch(FetchCompletion completion) override;
    void save(const Board &board, const QByteArray &basedOn, SaveCompletion completion) override;
    void version(VersionCompletion completion) override;
    void moveAside(const QByteArray &version, MoveAsideCompletion completion) override;
    void asides(AsidesCompletion completion) override;
    void fetchAside(const QString &name, FetchCompletion completion) override;
    void removeAside(const QString &name, DoneCompletion completion) override;

private:
    /// Runs \a effect when the answer is due, unless the call is scripted to fail.
    void answer(const QString &call, std::function<void()> effect,
                std::function<void(const CloudError &)> fail, bool logged = true);

    std::shared_ptr<MemoryCloud> m_cloud;
};

/// A machine of its own: a board store over an in-memory board file, linked to a sync service
/// over the given cloud store, its quiet period on a clock the test moves by hand. When \a log is
/// given, every file save is logged there as "file", so local and cloud steps show in one list.
struct Machine
{
    using Change = std::function<void(BoardStore &)>;

    /// \a agreed, when given, keeps the agreed board across machines made over it, as a launch
    /// finds it on disk.
    Machine(std::optional<Board> saved, std::unique_ptr<RemoteBoard> cloudStore,
            QStringList *log = nullptr, const Change &beforeSync = {},
            RecordingPersistence *agreed = nullptr);

    SyncService::State::Kind kind() const { return service->state().kind; }
    /// Lets the round on its way, if any, end.
    void settle() const;
    /// Lets the quiet period pass at once, without waiting for the upload it starts.
    void elapseQuietPeriod();
    /// Makes \a change, lets the quiet period pass and the upload end.
    void change(const Change &change);
    void add(const QString &title);
    void catchUp();

    RecordingPersistence file;
    std::unique_ptr<BoardStore> store;
    std::unique_ptr<SyncService> service;
    /// The quiet period waiting to elapse, if any, and how long the service asked it to be.
    std::function<void()> quietPeriodElapsed;
    std::chrono::milliseconds quietPeriod{0};
};
