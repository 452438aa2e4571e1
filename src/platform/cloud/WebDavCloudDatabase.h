#pragma once

#include "cloud/RemoteBoardFile.h"
#include "cloud/WebDavClient.h"

#include <QObject>

#include <functional>
#include <optional>

/// The board files kept in the folder "Lumaret" inside the WebDAV collection the person connected:
/// each record is one file named after it ("board.json"), its version the server's ETag.
///
/// Writes are always conditional: an update carries If-Match with the strong ETag read with the
/// record, a creation carries If-None-Match: *. Where the server offers write locks (WebDAV class
/// 2), an update also holds a lock taken at that version, since a server may check the condition
/// before it takes the body (Apache's mod_dav_fs does) and let two writers through. Redirects are
/// refused rather than followed, so the credentials only ever go to the address the person gave.
/// Every completion is called once, on the GUI thread, after the call has returned.
class WebDavCloudDatabase : public QObject
{
    Q_OBJECT

public:
    using StatusCompletion = std::function<void(CloudResult<CloudAccountStatus>)>;
    using RecordCompletion = std::function<void(CloudResult<RemoteBoardFile>)>;
    using VersionCompletion = std::function<void(CloudResult<QByteArray>)>;
    using NameCompletion = std::function<void(CloudResult<QString>)>;
    using DoneCompletion = std::function<void(CloudResult<CloudDone>)>;

    WebDavCloudDatabase(CloudAccount account, PasswordSource password, WebDavLimits limits = {},
                        QObject *parent = nullptr);
    ~WebDavCloudDatabase() override;

    /// Available once the container folder answers; the folder is created when it is missing.
    /// Refused credentials, an unreachable server and a timeout are errors.
    void accountStatus(StatusCompletion completion);
    /// The record named \a recordName; a missing one fails with CloudError::Kind::notFound.
    void fetchRecord(const QString &recordName, RecordCompletion completion);
    /// The envelope older versions kept at "iCloud.app.lumaret/default-board.json" in the
    /// collection, as it is; a missing one fails with CloudError::Kind::notFound. Nothing here
    /// ever writes, moves or removes it.
    void fetchOlderEnvelope(RecordCompletion completion);
    /// Writes \a record: as an update of the version it was read at, or as a new record. Answers
    /// with the record as now stored; its version is empty when neither the server's answer nor
    /// a HEAD right after could name it as this write's. A change on the server since that read,
    /// or another writer holding the lock, fails with CloudError::Kind::changedElsewhere or
    /// lockedElsewhere.
    void saveRecord(const RemoteBoardFile &record, RecordCompletion completion);
    /// The strong version tag of the record, without its body; empty when there is no record.
    void fetchRecordVersion(const QString &recordName, VersionCompletion completion);
    /// Renames the record, while it is still at \a version, to a free name beside it that says
    /// when and why it was put aside; answers with that name.
    void moveRecordAside(const QString &recordName, const QByteArray &version,
                         NameCompletion completion);
    /// The file names of the records moved aside from \a recordName, as they are in the folder.
    void listRecordsAside(const QString &recordName,
                          std::function<void(CloudResult<QStringList>)> completion);
    /// Reads the record \a recordName that was moved aside to the file \a fileName.
    void fetchRecordAside(const QString &recordName, const QString &fileName,
                          RecordCompletion completion);
    /// Deletes the file \a fileName of a record moved aside.
    void removeRecordAside(const QString &fileName, DoneCompletion completion);
    /// Checks on a scratch resource that the server gives strong version tags and refuses writes
    /// whose If-Match or If-None-Match does not hold; without that, no write could be guarded.
    void checkConditionalWrites(DoneCompletion completion);

    QUrl containerUrl() const;

private:
    void createContainer(StatusCompletion completion);
    void fetchRecordFrom(const QUrl &url, const QString &recordName, RecordCompletion completion);
    /// The write itself, under the lock \a lock when it is not empty.
    void lockAndPut(const RemoteBoardFile &record, const WebDavClient::Headers &headers,
                    RecordCompletion completion);
    void putRecord(const RemoteBoardFile &record, const WebDavClient::Headers &headers,
                   const QByteArray &lock, RecordCompletion completion);
    QUrl recordUrl(const QString &recordName) const;
    QUrl fileUrl(const QString &fileName) const;

    WebDavClient m_client;
    /// Whether the server offers write locks (WebDAV class 2), once asked.
    std::optional<bool> m_offersLocks;
};
