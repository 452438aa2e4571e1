#include "WebDavCloudDatabase.h"

#include "network/LimitedReplyBody.h"

#include <QCryptographicHash>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QXmlStreamReader>

namespace {

const char *const timedOutProperty = "lumaretTimedOut";

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

/// Only a strong tag identifies one exact version; a weak one ("W/...") may stand for several.
QByteArray strongEtag(const QByteArray &header)
{
    const QByteArray tag = header.trimmed();
    if (tag.size() < 2 || !tag.startsWith('"') || !tag.endsWith('"'))
        return {};
    return tag;
}

CloudError missingStrongTag()
{
    return {CloudError::Kind::noStrongVersions};
}

bool isHttpLevelError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::NoError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentReSendError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

CloudError networkError(QNetworkReply::NetworkError error, const QString &host)
{
    using Kind = CloudError::Kind;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return {Kind::unreachable, host};
    case QNetworkReply::TimeoutError:
        return {Kind::timedOut, host};
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::UnknownProxyError:
        return {Kind::insecureConnection, host};
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::ProtocolUnknownError:
        return {Kind::connectionCut, host};
    default:
        return {Kind::networkFailure, host, int(error)};
    }
}

} // namespace

CloudError cloudErrorForHttpStatus(int status)
{
    using Kind = CloudError::Kind;
    const auto kind = [status] {
        switch (status) {
        case 401:
            return Kind::credentialsRefused;
        case 403:
            return Kind::accessDenied;
        case 404:
            return Kind::notFound;
        case 412:
            return Kind::changedElsewhere;
        case 423:
            return Kind::lockedElsewhere;
        case 429:
            return Kind::rateLimited;
        case 503:
            return Kind::serverUnavailable;
        case 507:
            return Kind::quotaExceeded;
        default:
            return status >= 300 && status < 400 ? Kind::redirected : Kind::refused;
        }
    };
    return {kind(), {}, status};
}

WebDavCloudDatabase::WebDavCloudDatabase(CloudAccount account, PasswordSource password,
                                         WebDavLimits limits, QObject *parent)
    : QObject(parent), m_account(std::move(account)), m_passwordSource(std::move(password)),
      m_limits(limits)
{
    // Nothing read from the cloud may come from a cache, and nothing sent may be kept in one.
    m_network.setCache(nullptr);
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // A proxy configured for the desktop has no business with this machine's own server.
    if (CloudAccounts::isLoopbackHost(m_account.collectionUrl.host()))
        m_network.setProxy(QNetworkProxy::NoProxy);
}

WebDavCloudDatabase::~WebDavCloudDatabase()
{
    // Requests still on their way end here without answering: their completions may belong to an
    // owner that is being destroyed too.
    for (QNetworkReply *reply : m_network.findChildren<QNetworkReply *>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

QUrl WebDavCloudDatabase::containerUrl() const
{
    return m_account.collectionUrl.resolved(QUrl(QStringLiteral("Lumaret/")));
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
    send("PROPFIND", containerUrl(),
         {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}}, propfindBody,
         [self, completion](CloudResult<Response> response) {
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
    send("MKCOL", containerUrl(), {}, {}, [completion](CloudResult<Response> response) {
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
    fetchRecordFrom(m_account.collectionUrl.resolved(
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
    send("GET", url, {}, {}, [recordName, completion](CloudResult<Response> response) {
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
    send("HEAD", recordUrl(recordName), {}, {}, [completion](CloudResult<Response> response) {
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
    send("MOVE", recordUrl(recordName),
         {{"Destination", destination.toEncoded()}, {"Overwrite", "F"}, {"If-Match", version}}, {},
         [asideName, completion](CloudResult<Response> response) {
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
    send("PROPFIND", containerUrl(),
         {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}}, propfindBody,
         [prefix, completion](CloudResult<Response> response) {
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
                 const QString path = QUrl::fromPercentEncoding(xml.readElementText().toUtf8());
                 const QString name = path.section(QLatin1Char('/'), -1);
                 if (name.startsWith(prefix) && name.endsWith(QStringLiteral(".json")))
                     names.append(name);
             }
             completion(names);
         });
}

void WebDavCloudDatabase::removeRecordAside(const QString &fileName, DoneCompletion completion)
{
    send("DELETE", fileUrl(fileName), {}, {}, [completion](CloudResult<Response> response) {
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
    // Each step answers the refusal that ends the check, or nothing to go on.
    const QUrl scratch = recordUrl(QStringLiteral(".lumaret-check-") +
                                   QUuid::createUuid().toString(QUuid::WithoutBraces));
    const QByteArray body = "{}";
    QPointer<WebDavCloudDatabase> self(this);
    const auto finishWith = [self, scratch, completion](CloudResult<CloudDone> result) {
        if (!self)
            return;
        self->send("DELETE", scratch, {}, {},
                   [completion, result](CloudResult<Response>) { completion(result); });
    };
    const auto ignoredGuard = [](const char *header) {
        return CloudError{
            CloudError::Kind::ignoresWriteConditions, {}, 0, QString::fromLatin1(header)};
    };
    send("PUT", scratch, {{"Content-Type", "application/json"}, {"If-None-Match", "*"}}, body,
         [self, scratch, body, finishWith, ignoredGuard](CloudResult<Response> created) {
             if (!self)
                 return;
             if (!created.hasValue())
                 return finishWith(created.error());
             if (created.value().status != 201 && created.value().status != 204)
                 return finishWith(cloudErrorForHttpStatus(created.value().status));
             self->send(
                 "HEAD", scratch, {}, {},
                 [self, scratch, body, finishWith, ignoredGuard](CloudResult<Response> head) {
                     if (!self)
                         return;
                     if (!head.hasValue())
                         return finishWith(head.error());
                     if (strongEtag(head.value().etag).isEmpty()) {
                         return finishWith(CloudError{CloudError::Kind::noVersionsForJson});
                     }
                     self->send(
                         "PUT", scratch,
                         {{"Content-Type", "application/json"},
                          {"If-Match", "\"lumaret-no-such-version\""}},
                         body,
                         [self, scratch, body, finishWith,
                          ignoredGuard](CloudResult<Response> mismatched) {
                             if (!self)
                                 return;
                             if (!mismatched.hasValue())
                                 return finishWith(mismatched.error());
                             if (mismatched.value().status != 412)
                                 return finishWith(ignoredGuard("If-Match"));
                             self->send(
                                 "PUT", scratch,
                                 {{"Content-Type", "application/json"}, {"If-None-Match", "*"}},
                                 body, [finishWith, ignoredGuard](CloudResult<Response> existing) {
                                     if (!existing.hasValue())
                                         return finishWith(existing.error());
                                     if (existing.value().status != 412)
                                         return finishWith(ignoredGuard("If-None-Match"));
                                     finishWith(CloudDone{});
                                 });
                         });
                 });
         });
}

void WebDavCloudDatabase::saveRecord(const RemoteBoardFile &record, RecordCompletion completion)
{
    QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"}};
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
    send("OPTIONS", containerUrl(), {}, {},
         [self, record, headers, completion](CloudResult<Response> response) {
             if (!self)
                 return;
             if (!response.hasValue())
                 return completion(response.error());
             const QList<QByteArray> classes = response.value().davClasses.split(',');
             self->m_offersLocks =
                 std::any_of(classes.cbegin(), classes.cend(),
                             [](const QByteArray &davClass) { return davClass.trimmed() == "2"; });
             self->saveRecord(record, completion);
         });
}

void WebDavCloudDatabase::lockAndPut(const RemoteBoardFile &record,
                                     const QList<QPair<QByteArray, QByteArray>> &headers,
                                     RecordCompletion completion)
{
    // Apache's mod_dav_fs checks If-Match before it reads the body, so two writers of the same
    // version both succeed. A write lock, itself taken only at that version, leaves one writer:
    // the other is refused at once and merges what the first wrote.
    QPointer<WebDavCloudDatabase> self(this);
    send("LOCK", recordUrl(record.recordName),
         {{"Depth", "0"},
          {"Timeout", "Second-60"},
          {"Content-Type", "application/xml; charset=utf-8"},
          {"If-Match", record.versionTag}},
         lockBody, [self, record, headers, completion](CloudResult<Response> response) {
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
             QList<QPair<QByteArray, QByteArray>> locked = headers;
             locked.append(qMakePair(QByteArray("If"), "(<" + token + ">)"));
             self->putRecord(record, locked, token, completion);
         });
}

void WebDavCloudDatabase::putRecord(const RemoteBoardFile &record,
                                    const QList<QPair<QByteArray, QByteArray>> &headers,
                                    const QByteArray &lock, RecordCompletion completion)
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
        self->send("UNLOCK", url, {{"Lock-Token", "<" + lock + ">"}}, {},
                   [completion, result](CloudResult<Response>) { completion(result); });
    };
    send("PUT", url, headers, body,
         [self, record, url, body, lock, answer](CloudResult<Response> response) {
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
             // Apache names no version after a write. Asking costs no body: under the lock the
             // version is this write's; without one, only a tag that is the digest Apache's
             // "FileETag Digest" makes of exactly these bytes is.
             const QByteArray digest =
                 '"' + QCryptographicHash::hash(body, QCryptographicHash::Sha1).toBase64() + '"';
             self->send("HEAD", url, {}, {},
                        [saved, digest, lock, answer](CloudResult<Response> head) mutable {
                            const QByteArray tag = head.hasValue() && head.value().status == 200
                                                       ? strongEtag(head.value().etag)
                                                       : QByteArray();
                            if (!lock.isEmpty() || tag == digest)
                                saved.versionTag = tag;
                            answer(saved);
                        });
         });
}

void WebDavCloudDatabase::send(const QByteArray &verb, const QUrl &url,
                               QList<QPair<QByteArray, QByteArray>> headers, const QByteArray &body,
                               ResponseCompletion completion)
{
    if (const std::optional<CloudError> problem =
            CloudAccounts::problemWithCollectionUrl(m_account.collectionUrl)) {
        QTimer::singleShot(0, this, [completion, problem = *problem] { completion(problem); });
        return;
    }
    // The password goes only to the collection the person connected and what it holds, whatever
    // a name read from the server resolves to.
    const QUrl &collection = m_account.collectionUrl;
    if (url != collection && !collection.isParentOf(url)) {
        QTimer::singleShot(
            0, this, [completion] { completion(CloudError{CloudError::Kind::outsideFolder}); });
        return;
    }
    if (m_password) {
        QTimer::singleShot(0, this, [this, verb, url, headers, body, completion] {
            sendWithPassword(*m_password, verb, url, headers, body, completion);
        });
        return;
    }
    QPointer<WebDavCloudDatabase> self(this);
    m_passwordSource([self, verb, url, headers, body, completion](CloudResult<QString> password) {
        if (!self)
            return;
        if (!password.hasValue()) {
            completion(password.error());
            return;
        }
        self->m_password = password.value();
        self->sendWithPassword(password.value(), verb, url, headers, body, completion);
    });
}

void WebDavCloudDatabase::sendWithPassword(const QString &password, const QByteArray &verb,
                                           const QUrl &url,
                                           const QList<QPair<QByteArray, QByteArray>> &headers,
                                           const QByteArray &body, ResponseCompletion completion)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setRawHeader("User-Agent", "Lumaret");
    // Bodies travel as they are: a compressed one could expand far past the size limit before a
    // single byte of it reached the checks below, and a board is small anyway.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setRawHeader("Authorization",
                         "Basic " +
                             (m_account.user + QLatin1Char(':') + password).toUtf8().toBase64());
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);

    // A HEAD answer announces a body length without a body; only Qt's own HEAD knows that.
    QNetworkReply *reply =
        verb == "HEAD" ? m_network.head(request) : m_network.sendCustomRequest(request, verb, body);

    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply] {
        reply->setProperty(timedOutProperty, true);
        reply->abort();
    });
    deadline->start(m_limits.requestTimeout);

    auto *answerBody = new LimitedReplyBody(reply, m_limits.maxResponseBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply, answerBody, completion] {
        reply->deleteLater();
        completion(finish(reply, *answerBody));
    });
}

CloudResult<WebDavCloudDatabase::Response> WebDavCloudDatabase::finish(QNetworkReply *reply,
                                                                       LimitedReplyBody &body) const
{
    const QString host = reply->url().host();
    const QByteArray data = body.take();
    if (reply->property(timedOutProperty).toBool())
        return networkError(QNetworkReply::TimeoutError, host);
    if (body.exceeded()) {
        return CloudError{CloudError::Kind::answerTooLarge, host,
                          int(m_limits.maxResponseBytes / (1024 * 1024))};
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || !isHttpLevelError(reply->error()))
        return networkError(reply->error(), host);

    Response response;
    response.status = status.toInt();
    response.body = data;
    response.etag = reply->rawHeader("ETag");
    response.davClasses = reply->rawHeader("DAV");
    // A body cut short must never pass for a whole one. Nothing is decompressed, so the length
    // announced is the length read.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (reply->operation() != QNetworkAccessManager::HeadOperation && length.isValid() &&
        length.toLongLong() != response.body.size())
        return networkError(QNetworkReply::RemoteHostClosedError, host);
    return response;
}
