#pragma once

#include "services/CloudKitThoughtSyncing.h"

#include <QDateTime>

#include <functional>
#include <memory>

class WebDavCloudDatabase;

/// The board as one record of the cloud record database: record "default-board" of type
/// "BoardSnapshot", whose "payload" field holds the board in exactly the board file's format and
/// whose "updatedAt" field holds the time of the last save. A save modifies the record as just
/// fetched, so fields written by others survive.
class CloudKitThoughtSyncService : public CloudKitThoughtSyncing
{
public:
    using Clock = std::function<QDateTime()>;

    explicit CloudKitThoughtSyncService(std::unique_ptr<WebDavCloudDatabase> database);
    ~CloudKitThoughtSyncService() override;

    void accountStatus(AccountStatusCompletion completion) override;
    void fetch(FetchCompletion completion) override;
    void save(const Board &board, SaveCompletion completion) override;

    /// For tests that need a fixed "updatedAt".
    void setClock(Clock clock) { m_clock = std::move(clock); }

    static QString recordName();
    static QString recordType();

private:
    std::unique_ptr<WebDavCloudDatabase> m_database;
    Clock m_clock = [] { return QDateTime::currentDateTimeUtc(); };
};
