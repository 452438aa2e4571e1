#include "WebDavRemoteBoard.h"

#include "cloud/WebDavCloudDatabase.h"
#include "stores/BoardCodec.h"

namespace {

/// Answers \a completion with the board \a record holds.
void answerSnapshot(const CloudResult<RemoteBoardFile> &record,
                    const RemoteBoard::FetchCompletion &completion)
{
    if (!record.hasValue()) {
        if (record.error().kind == CloudError::Kind::notFound)
            completion(CloudSnapshot{});
        else
            completion(record.error());
        return;
    }
    if (record.value().versionTag.isEmpty()) {
        // Without a strong tag no later write could be guarded by this version.
        return completion(CloudError{CloudError::Kind::noStrongVersions});
    }
    QString decodingError;
    std::optional<Board> board = BoardCodec::decode(record.value().body, &decodingError);
    if (!board) {
        return completion(CloudSnapshot{
            CloudSnapshot::Kind::unreadable, {}, record.value().versionTag, decodingError});
    }
    completion(CloudSnapshot{
        CloudSnapshot::Kind::board, std::move(*board), record.value().versionTag, {}});
}

} // namespace

WebDavRemoteBoard::WebDavRemoteBoard(std::unique_ptr<WebDavCloudDatabase> database)
    : m_database(std::move(database))
{}

WebDavRemoteBoard::~WebDavRemoteBoard() = default;

QString WebDavRemoteBoard::recordName()
{
    return QStringLiteral("board");
}

void WebDavRemoteBoard::accountStatus(AccountStatusCompletion completion)
{
    m_database->accountStatus(std::move(completion));
}

void WebDavRemoteBoard::fetch(FetchCompletion completion)
{
    m_database->fetchRecord(recordName(), [this, completion](CloudResult<RemoteBoardFile> record) {
        if (!record.hasValue() && record.error().kind == CloudError::Kind::notFound &&
            !m_hasReadOlderEnvelope)
            return fetchOlderEnvelope(completion);
        answerSnapshot(record, completion);
    });
}

void WebDavRemoteBoard::fetchOlderEnvelope(FetchCompletion completion)
{
    // The board older versions kept is merged like any cloud board, but under no version: the
    // next write creates the board file, and only once that file exists does a write need a
    // version of it. An envelope that does not read is no board to merge, and stays as it is.
    // Once read, what it held is in this machine's board: reading it again before that board is
    // written would only cost another download. One that could not be read is asked for again.
    m_database->fetchOlderEnvelope([this, completion](CloudResult<RemoteBoardFile> envelope) {
        if (!envelope.hasValue() && envelope.error().kind != CloudError::Kind::notFound)
            return completion(envelope.error());
        m_hasReadOlderEnvelope = true;
        if (!envelope.hasValue())
            return completion(CloudSnapshot{});
        const CloudResult<QByteArray> boardFile = boardFileInEnvelope(envelope.value().body);
        std::optional<Board> board;
        if (boardFile.hasValue())
            board = BoardCodec::decode(boardFile.value());
        if (!board)
            return completion(CloudSnapshot{});
        completion(CloudSnapshot{CloudSnapshot::Kind::board, std::move(*board), {}, {}});
    });
}

void WebDavRemoteBoard::save(const Board &board, const QByteArray &basedOn,
                             SaveCompletion completion)
{
    RemoteBoardFile record;
    record.recordName = recordName();
    record.body = BoardCodec::encode(board);
    record.isOnServer = !basedOn.isEmpty();
    record.versionTag = basedOn;
    m_database->saveRecord(record, [completion](CloudResult<RemoteBoardFile> saved) {
        if (!saved.hasValue())
            return completion(saved.error());
        completion(saved.value().versionTag);
    });
}

void WebDavRemoteBoard::version(VersionCompletion completion)
{
    m_database->fetchRecordVersion(recordName(), std::move(completion));
}

void WebDavRemoteBoard::moveAside(const QByteArray &version, MoveAsideCompletion completion)
{
    m_database->moveRecordAside(recordName(), version, std::move(completion));
}

void WebDavRemoteBoard::asides(AsidesCompletion completion)
{
    m_database->listRecordsAside(recordName(), [completion](CloudResult<QStringList> names) {
        if (!names.hasValue())
            return completion(names.error());
        QList<CloudAside> asides;
        for (const QString &name : names.value()) {
            // "board.unreadable-20261207-120000.json", as moveAside names them.
            QDateTime movedAt = QDateTime::fromString(name.section(QLatin1Char('-'), -2).chopped(5),
                                                      QStringLiteral("yyyyMMdd-HHmmss"));
            movedAt.setTimeSpec(Qt::UTC);
            asides.append(CloudAside{name, movedAt});
        }
        completion(asides);
    });
}

void WebDavRemoteBoard::fetchAside(const QString &name, FetchCompletion completion)
{
    m_database->fetchRecordAside(
        recordName(), name,
        [completion](CloudResult<RemoteBoardFile> record) { answerSnapshot(record, completion); });
}

void WebDavRemoteBoard::removeAside(const QString &name, DoneCompletion completion)
{
    m_database->removeRecordAside(name, std::move(completion));
}
