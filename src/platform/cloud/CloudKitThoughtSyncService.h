#pragma once

#include "services/CloudKitThoughtSyncing.h"

#include <QDateTime>

#include <functional>
#include <memory>

class WebDavCloudDatabase;
struct CloudRecord;

/// The board as one record of the cloud record database: record "default-board" of type
/// "BoardSnapshot", whose "payload" field holds the board in exactly the board file's format and
/// whose "updatedAt" field holds the time of the last save. A save modifies the record as last
/// fetched, so fields written by others survive.
class CloudKitThoughtSyncService : public CloudKitThoughtSyncing
{
public:
    using Clock = std::function<QDateTime()>;

    explicit CloudKitThoughtSyncService(std::unique_ptr<WebDavCloudDatabase> database);
    ~CloudKitThoughtSyncService() override;

    void accountStatus(AccountStatusCompletion completion) override;
    void fetch(FetchCompletion completion) override;
    void save(const Board &board, const QByteArray &basedOn, SaveCompletion completion) override;
    void version(VersionCompletion completion) override;
    void moveAside(const QByteArray &version, MoveAsideCompletion completion) override;
    void asides(AsidesCompletion completion) override;
    void fetchAside(const QString &name, FetchCompletion completion) override;
    void removeAside(const QString &name, DoneCompletion completion) override;

    /// For tests that need a fixed "updatedAt".
    void setClock(Clock clock) { m_clock = std::move(clock); }

    static QString recordName();
    static QString recordType();

private:
    std::unique_ptr<WebDavCloudDatabase> m_database;
    /// The record as last read or written; a save keeps its fields.
    std::shared_ptr<CloudRecord> m_record = std::make_shared<CloudRecord>();
    Clock m_clock = [] { return QDateTime::currentDateTimeUtc(); };
};
