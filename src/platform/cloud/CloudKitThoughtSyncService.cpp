#include "CloudKitThoughtSyncService.h"

#include "cloud/WebDavCloudDatabase.h"
#include "stores/BoardCodec.h"

namespace {

const QString payloadKey = QStringLiteral("payload");
const QString updatedAtKey = QStringLiteral("updatedAt");

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
    m_database->fetchRecord(recordName(), [completion](CloudResult<CloudRecord> record) {
        if (!record.hasValue()) {
            if (record.error().code == CloudErrorCode::unknownItem)
                completion(std::optional<Board>());
            else
                completion(record.error());
            return;
        }
        const std::optional<QByteArray> payload = record.value().dataField(payloadKey);
        if (!payload && record.value().isDataField(payloadKey)) {
            // A data value that does not decode is a damaged board, not a missing one: reading it
            // as empty would upload the local board over it.
            completion(CloudError{CloudErrorCode::invalidRecord,
                                  QStringLiteral("云端的看板数据无法读取（不是有效的 base64 "
                                                 "数据），没有合并也没有上传")});
            return;
        }
        if (!payload) {
            completion(std::optional<Board>(Board()));
            return;
        }
        QString decodingError;
        std::optional<Board> board = BoardCodec::decode(*payload, &decodingError);
        if (!board) {
            completion(CloudError{CloudErrorCode::invalidRecord,
                                  QStringLiteral("云端的看板数据无法读取（%1），没有合并也没有上传")
                                      .arg(decodingError)});
            return;
        }
        completion(std::move(board));
    });
}

void CloudKitThoughtSyncService::save(const Board &board, SaveCompletion completion)
{
    WebDavCloudDatabase *database = m_database.get();
    const QByteArray payload = BoardCodec::encode(board);
    const Clock clock = m_clock;
    database->fetchRecord(
        recordName(), [database, payload, clock, completion](CloudResult<CloudRecord> fetched) {
            CloudRecord record;
            if (fetched.hasValue()) {
                record = fetched.value();
            } else if (fetched.error().code == CloudErrorCode::unknownItem) {
                record.recordName = recordName();
                record.recordType = recordType();
            } else {
                completion(fetched.error());
                return;
            }
            record.setDataField(payloadKey, payload);
            record.setDateField(updatedAtKey, clock());
            database->saveRecord(record, [completion](CloudResult<CloudRecord> saved) {
                if (saved.hasValue())
                    completion(CloudDone{});
                else
                    completion(saved.error());
            });
        });
}
