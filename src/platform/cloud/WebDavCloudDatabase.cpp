#include "WebDavCloudDatabase.h"

#include "cloud/WebDavServerCheck.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QXmlStreamReader>

namespace {

const QByteArray lockBody = QByteArrayLiteral(
    R"(<?xml version="1.0" encoding="utf-8"?><lockinfo xmlns="DAV:"><lockscope><exclusive/></lockscope><locktype><write/></locktype><owner>Lumaret</owner></lockinfo>)");

/// The token of the lock a LOCK answer grants, from its body.
QByteArray lockToken(const QByteArray &body)
{
    QXmlStreamReader xml(body);
    bool inToken = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement ||
            xml.namespaceUri() != QLatin1String("DAV:"))
            continue;
        if (xml.name() == QLatin1String("locktoken"))
            inToken = true;
        else if (inToken && xml.name() == QLatin1String("href"))
            return xml.readElementText().trimmed().toUtf8();
    }
    return {};
}

const QByteArray propfindBody = QByteArrayLiteral(
    R"(<?xml version="1.0" encoding="utf-8"?><propfind xmlns="DAV:"><prop><resourcetype/></prop></propfind>)");

CloudError missingStrongTag()
{
    return {CloudError::Kind::noStrongVersions};
}

} // namespace

WebDavCloudDatabase::WebDavCloudDatabase(CloudAccount account, PasswordSource password,
                                         WebDavLimits limits, QObject *parent)
    : QObject(parent), m_client(std::move(account), std::move(password), limits)
{}

WebDavCloudDatabase::~WebDavCloudDatabase() = default;

QUrl WebDavCloudDatabase::containerUrl() const
{
    return m_client.account().collectionUrl.resolved(QUrl(QStringLiteral("Lumaret/")));
}

QUrl WebDavCloudDatabase::recordUrl(const QString &recordName) const
{
    return containerUrl().resolved(QUrl(recordName + QStringLiteral(".json")));
}

QUrl WebDavCloudDatabase::fileUrl(const QString &fileName) const
{
    // Set as a path, never parsed: a name read from the server cannot become another address.
    QUrl url = containerUrl();
    url.setPath(url.path() + fileName);
    return url;
}

void WebDavCloudDatabase::accountStatus(StatusCompletion completion)
{
    QPointer<WebDavCloudDatabase> self(this);
    m_client.send("PROPFIND", containerUrl(),
                  {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}},
                  propfindBody, [self, completion](CloudResult<WebDavResponse> response) {
                      if (!self)
                          return;
                      if (!response.hasValue()) {
                          completion(response.error());
                      } else if (response.value().status == 207) {
                          completion(CloudAccountStatus::available);
                      } else if (response.value().status == 404) {
                          self->createContainer(completion);
                      } else if (response.value().status == 405 || response.value().status == 501) {
                          completion(CloudError{CloudError::Kind::notWebDavFolder});
                      } else {
                          completion(cloudErrorForHttpStatus(response.value().status));
                      }
                  });
}

void WebDavCloudDatabase::createContainer(StatusCompletion completion)
{
    m_client.send("MKCOL", containerUrl(), {}, {},
                  [completion](CloudResult<WebDavResponse> response) {
                      if (!response.hasValue()) {
                          completion(response.error());
                      } else if (response.value().status == 201 || response.value().status == 405) {
                          // 405: another device created the folder in the meantime.
                          completion(CloudAccountStatus::available);
                      } else if (response.value().status == 409) {
                          completion(CloudError{CloudError::Kind::parentFolderMissing});
                      } else {
                          completion(cloudErrorForHttpStatus(response.value().status));
                      }
                  });
}

void WebDavCloudDatabase::fetchRecord(const QString &recordName, RecordCompletion completion)
{
    fetchRecordFrom(recordUrl(recordName), recordName, std::move(completion));
}

void WebDavCloudDatabase::fetchOlderEnvelope(RecordCompletion completion)
{
    fetchRecordFrom(m_client.account().collectionUrl.resolved(
                        QUrl(QStringLiteral("iCloud.app.lumaret/default-board.json"))),
                    QStringLiteral("default-board"), std::move(completion));
}

void WebDavCloudDatabase::fetchRecordAside(const QString &recordName, const QString &fileName,
                                           RecordCompletion completion)
{
    fetchRecordFrom(fileUrl(fileName), recordName, std::move(completion));
}

void WebDavCloudDatabase::fetchRecordFrom(const QUrl &url, const QString &recordName,
                                          RecordCompletion completion)
{
    m_client.send("GET", url, {}, {},
                  [recordName, completion](CloudResult<WebDavResponse> response) {
                      if (!response.hasValue()) {
                          completion(response.error());
                          return;
                      }
                      if (response.value().status != 200) {
                          completion(cloudErrorForHttpStatus(response.value().status));
                          return;
                      }
                      RemoteBoardFile record;
                      record.recordName = recordName;
                      record.body = response.value().body;
                      record.isOnServer = true;
                      record.versionTag = strongEtag(response.value().etag);
                      completion(std::move(record));
                  });
}

void WebDavCloudDatabase::fetchRecordVersion(const QString &recordName,
                                             VersionCompletion completion)
{
    m_client.send(
        "HEAD", recordUrl(recordName), {}, {}, [completion](CloudResult<WebDavResponse> response) {
            if (!response.hasValue()) {
                completion(response.error());
            } else if (response.value().status == 404) {
                completion(QByteArray());
            } else if (response.value().status != 200) {
                completion(cloudErrorForHttpStatus(response.value().status));
            } else if (const QByteArray tag = strongEtag(response.value().etag); tag.isEmpty()) {
                completion(missingStrongTag());
            } else {
                completion(tag);
            }
        });
}

void WebDavCloudDatabase::moveRecordAside(const QString &recordName, const QByteArray &version,
                                          NameCompletion completion)
{
    if (version.isEmpty()) {
        // Without a version the move could take away a board another device just wrote.
        QTimer::singleShot(0, this, [completion] { completion(missingStrongTag()); });
        return;
    }
    const QString asideName =
        recordName + QStringLiteral(".unreadable-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QUrl destination = recordUrl(asideName).adjusted(QUrl::RemoveUserInfo);
    m_client.send(
        "MOVE", recordUrl(recordName),
        {{"Destination", destination.toEncoded()}, {"Overwrite", "F"}, {"If-Match", version}}, {},
        [asideName, completion](CloudResult<WebDavResponse> response) {
            if (!response.hasValue())
                completion(response.error());
            else if (response.value().status == 201 || response.value().status == 204)
                completion(asideName + QStringLiteral(".json"));
            else
                completion(cloudErrorForHttpStatus(response.value().status));
        });
}

void WebDavCloudDatabase::listRecordsAside(const QString &recordName,
                                           std::function<void(CloudResult<QStringList>)> completion)
{
    const QString prefix = recordName + QStringLiteral(".unreadable-");
    m_client.send("PROPFIND", containerUrl(),
                  {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}},
                  propfindBody, [prefix, completion](CloudResult<WebDavResponse> response) {
                      if (!response.hasValue())
                          return completion(response.error());
                      if (response.value().status != 207)
                          return completion(cloudErrorForHttpStatus(response.value().status));
                      QStringList names;
                      QXmlStreamReader xml(response.value().body);
                      while (!xml.atEnd()) {
                          if (xml.readNext() != QXmlStreamReader::StartElement ||
                              xml.name() != QLatin1String("href") ||
                              xml.namespaceUri() != QLatin1String("DAV:"))
                              continue;
                          const QString path =
                              QUrl::fromPercentEncoding(xml.readElementText().toUtf8());
                          const QString name = path.section(QLatin1Char('/'), -1);
                          if (name.startsWith(prefix) && name.endsWith(QStringLiteral(".json")))
                              names.append(name);
                      }
                      completion(names);
                  });
}

void WebDavCloudDatabase::removeRecordAside(const QString &fileName, DoneCompletion completion)
{
    m_client.send("DELETE", fileUrl(fileName), {}, {},
                  [completion](CloudResult<WebDavResponse> response) {
                      if (!response.hasValue())
                          completion(response.error());
                      else if (response.value().status >= 200 && response.value().status < 300)
                          completion(CloudDone{});
                      else if (response.value().status == 404) // removed by another machine
                          completion(CloudDone{});
                      else
                          completion(cloudErrorForHttpStatus(response.value().status));
                  });
}

void WebDavCloudDatabase::checkConditionalWrites(DoneCompletion completion)
{
    ::checkConditionalWrites(m_client,
                             recordUrl(QStringLiteral(".lumaret-check-") +
                                       QUuid::createUuid().toString(QUuid::WithoutBraces)),
                             std::move(completion));
}

void WebDavCloudDatabase::saveRecord(const RemoteBoardFile &record, RecordCompletion completion)
{
    WebDavClient::Headers headers{{"Content-Type", "application/json"}};
    if (!record.isOnServer) {
        headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    } else if (!record.versionTag.isEmpty()) {
        headers.append(qMakePair(QByteArray("If-Match"), record.versionTag));
    } else {
        // Without a strong tag the write could not be made conditional, and an unconditional one
        // could silently replace another device's board.
        QTimer::singleShot(0, this, [completion] { completion(missingStrongTag()); });
        return;
    }
    if (!record.isOnServer || (m_offersLocks && !*m_offersLocks)) {
        putRecord(record, headers, {}, std::move(completion));
        return;
    }
    if (m_offersLocks) {
        // Only a write that replaces a version can be locked at it.
        lockAndPut(record, headers, std::move(completion));
        return;
    }
    QPointer<WebDavCloudDatabase> self(this);
    m_client.send("OPTIONS", containerUrl(), {}, {},
                  [self, record, headers, completion](CloudResult<WebDavResponse> response) {
                      if (!self)
                          return;
                      if (!response.hasValue())
                          return completion(response.error());
                      const QList<QByteArray> classes = response.value().davClasses.split(',');
                      self->m_offersLocks = std::any_of(
                          classes.cbegin(), classes.cend(),
                          [](const QByteArray &davClass) { return davClass.trimmed() == "2"; });
                      self->saveRecord(record, completion);
                  });
}

void WebDavCloudDatabase::lockAndPut(const RemoteBoardFile &record,
                                     const WebDavClient::Headers &headers,
                                     RecordCompletion completion)
{
    // Apache's mod_dav_fs checks If-Match before it reads the body, so two writers of the same
    // version both succeed. A write lock, itself taken only at that version, leaves one writer:
    // the other is refused at once and merges what the first wrote.
    QPointer<WebDavCloudDatabase> self(this);
    m_client.send("LOCK", recordUrl(record.recordName),
                  {{"Depth", "0"},
                   {"Timeout", "Second-60"},
                   {"Content-Type", "application/xml; charset=utf-8"},
                   {"If-Match", record.versionTag}},
                  lockBody,
                  [self, record, headers, completion](CloudResult<WebDavResponse> response) {
                      if (!self)
                          return;
                      if (!response.hasValue())
                          return completion(response.error());
                      const int status = response.value().status;
                      const QByteArray token = lockToken(response.value().body);
                      if (status == 401 || status == 412 || status == 423)
                          return completion(cloudErrorForHttpStatus(status));
                      if ((status != 200 && status != 201) || token.isEmpty()) {
                          // A server that says it has locks but cannot give one still takes guarded
                          // writes, as before locks were asked for.
                          self->m_offersLocks = false;
                          return self->putRecord(record, headers, {}, completion);
                      }
                      WebDavClient::Headers locked = headers;
                      locked.append(qMakePair(QByteArray("If"), "(<" + token + ">)"));
                      self->putRecord(record, locked, token, completion);
                  });
}

void WebDavCloudDatabase::putRecord(const RemoteBoardFile &record,
                                    const WebDavClient::Headers &headers, const QByteArray &lock,
                                    RecordCompletion completion)
{
    const QUrl url = recordUrl(record.recordName);
    const QByteArray &body = record.body;
    QPointer<WebDavCloudDatabase> self(this);
    // Answers once the lock, if any, is released, so that this machine's next write finds the
    // record free.
    const auto answer = [self, url, lock, completion](CloudResult<RemoteBoardFile> result) {
        if (!self)
            return;
        if (lock.isEmpty())
            return completion(result);
        self->m_client.send(
            "UNLOCK", url, {{"Lock-Token", "<" + lock + ">"}}, {},
            [completion, result](CloudResult<WebDavResponse>) { completion(result); });
    };
    m_client.send("PUT", url, headers, body,
                  [self, record, url, body, lock, answer](CloudResult<WebDavResponse> response) {
                      if (!self)
                          return;
                      if (!response.hasValue())
                          return answer(response.error());
                      const int status = response.value().status;
                      if (status != 200 && status != 201 && status != 204)
                          return answer(cloudErrorForHttpStatus(status));
                      RemoteBoardFile saved = record;
                      saved.isOnServer = true;
                      saved.versionTag = strongEtag(response.value().etag);
                      if (!saved.versionTag.isEmpty())
                          return answer(saved);
                      // Apache names no version after a write. Asking costs no body: under the lock
                      // the version is this write's; without one, only a tag that is the digest
                      // Apache's "FileETag Digest" makes of exactly these bytes is.
                      const QByteArray digest =
                          '"' +
                          QCryptographicHash::hash(body, QCryptographicHash::Sha1).toBase64() + '"';
                      self->m_client.send(
                          "HEAD", url, {}, {},
                          [saved, digest, lock, answer](CloudResult<WebDavResponse> head) mutable {
                              const QByteArray tag = head.hasValue() && head.value().status == 200
                                                         ? strongEtag(head.value().etag)
                                                         : QByteArray();
                              if (!lock.isEmpty() || tag == digest)
                                  saved.versionTag = tag;
                              answer(saved);
                          });
                  });
}
