#include "CloudKitThoughtSyncService.h"

#include "cloud/WebDavCloudDatabase.h"
#include "stores/BoardCodec.h"

namespace {

const QString payloadKey = QStringLiteral("payload");
const QString updatedAtKey = QStringLiteral("updatedAt");

/// Answers \a completion with the board \a record holds; keeps the record in \a kept, if given,
/// when it holds one.
void answerSnapshot(const CloudResult<CloudRecord> &record,
                    const CloudKitThoughtSyncing::FetchCompletion &completion, CloudRecord *kept)
{
    if (!record.hasValue()) {
        if (record.error().code == CloudErrorCode::unknownItem)
            completion(CloudSnapshot{});
        else
            completion(record.error());
        return;
    }
    if (record.value().versionTag.isEmpty()) {
        // Without a strong tag no later write could be guarded by this version.
        return completion(CloudError{
            CloudErrorCode::serverRejectedRequest,
            QStringLiteral("云端服务器没有为看板记录提供可靠的版本标记（强 ETag），为避免"
                           "覆盖其他设备的修改，没有同步")});
    }
    const auto unreadable = [&](const QString &problem) {
        completion(
            CloudSnapshot{CloudSnapshot::Kind::unreadable, {}, record.value().versionTag, problem});
    };
    if (!record.value().unreadableProblem.isEmpty())
        return unreadable(
            QStringLiteral("云端的看板记录无法读取（%1）").arg(record.value().unreadableProblem));
    const std::optional<QByteArray> payload = record.value().dataField(payloadKey);
    if (!payload && record.value().isDataField(payloadKey)) {
        // A data value that does not decode is a damaged board, not a missing one: reading it
        // as empty would upload the local board over it.
        return unreadable(QStringLiteral("云端的看板数据无法读取（不是有效的 base64 数据）"));
    }
    std::optional<Board> board = Board();
    QString decodingError;
    if (payload)
        board = BoardCodec::decode(*payload, &decodingError);
    if (!board)
        return unreadable(QStringLiteral("云端的看板数据无法读取（%1）").arg(decodingError));
    if (kept)
        *kept = record.value();
    completion(CloudSnapshot{
        CloudSnapshot::Kind::board, std::move(*board), record.value().versionTag, {}});
}

} // namespace

CloudKitThoughtSyncService::CloudKitThoughtSyncService(
    std::unique_ptr<WebDavCloudDatabase> database)
    : m_database(std::move(database))
{}

CloudKitThoughtSyncService::~CloudKitThoughtSyncService() = default;

QString CloudKitThoughtSyncService::recordName()
{
    return QStringLiteral("default-board");
}

QString CloudKitThoughtSyncService::recordType()
{
    return QStringLiteral("BoardSnapshot");
}

void CloudKitThoughtSyncService::accountStatus(AccountStatusCompletion completion)
{
    m_database->accountStatus(std::move(completion));
}

void CloudKitThoughtSyncService::fetch(FetchCompletion completion)
{
    std::shared_ptr<CloudRecord> kept = m_record;
    m_database->fetchRecord(recordName(), [kept, completion](CloudResult<CloudRecord> record) {
        answerSnapshot(record, completion, kept.get());
    });
}

void CloudKitThoughtSyncService::save(const Board &board, const QByteArray &basedOn,
                                      SaveCompletion completion)
{
    CloudRecord record = *m_record;
    record.recordName = recordName();
    if (record.recordType.isEmpty())
        record.recordType = recordType();
    record.isOnServer = !basedOn.isEmpty();
    record.versionTag = basedOn;
    record.setDataField(payloadKey, BoardCodec::encode(board));
    record.setDateField(updatedAtKey, m_clock());
    std::shared_ptr<CloudRecord> kept = m_record;
    m_database->saveRecord(record, [kept, completion](CloudResult<CloudRecord> saved) {
        if (!saved.hasValue())
            return completion(saved.error());
        *kept = saved.value();
        completion(saved.value().versionTag);
    });
}

void CloudKitThoughtSyncService::version(VersionCompletion completion)
{
    m_database->fetchRecordVersion(recordName(), std::move(completion));
}

void CloudKitThoughtSyncService::moveAside(const QByteArray &version,
                                           MoveAsideCompletion completion)
{
    m_database->moveRecordAside(recordName(), version, std::move(completion));
}

void CloudKitThoughtSyncService::asides(AsidesCompletion completion)
{
    m_database->listRecordsAside(recordName(), [completion](CloudResult<QStringList> names) {
        if (!names.hasValue())
            return completion(names.error());
        QList<CloudAside> asides;
        for (const QString &name : names.value()) {
            // "default-board.unreadable-20261207-120000.json", as moveAside names them.
            QDateTime movedAt = QDateTime::fromString(name.section(QLatin1Char('-'), -2).chopped(5),
                                                      QStringLiteral("yyyyMMdd-HHmmss"));
            movedAt.setTimeSpec(Qt::UTC);
            asides.append(CloudAside{name, movedAt});
        }
        completion(asides);
    });
}

void CloudKitThoughtSyncService::fetchAside(const QString &name, FetchCompletion completion)
{
    m_database->fetchRecordAside(recordName(), name, [completion](CloudResult<CloudRecord> record) {
        answerSnapshot(record, completion, nullptr);
    });
}

void CloudKitThoughtSyncService::removeAside(const QString &name, DoneCompletion completion)
{
    m_database->removeRecordAside(name, std::move(completion));
}
