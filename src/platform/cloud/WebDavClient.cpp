#include "WebDavClient.h"

#include "network/LimitedReplyBody.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace {

const char *const timedOutProperty = "lumaretTimedOut";

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

QByteArray strongEtag(const QByteArray &header)
{
    const QByteArray tag = header.trimmed();
    if (tag.size() < 2 || !tag.startsWith('"') || !tag.endsWith('"'))
        return {};
    return tag;
}

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

WebDavClient::WebDavClient(CloudAccount account, PasswordSource password, WebDavLimits limits,
                           QObject *parent)
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

WebDavClient::~WebDavClient()
{
    // Requests still on their way end here without answering: their completions may belong to an
    // owner that is being destroyed too.
    for (QNetworkReply *reply : m_network.findChildren<QNetworkReply *>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

void WebDavClient::send(const QByteArray &verb, const QUrl &url, Headers headers,
                        const QByteArray &body, ResponseCompletion completion)
{
    if (const std::optional<CloudError> problem =
            CloudAccounts::problemWithCollectionUrl(m_account.collectionUrl)) {
        QTimer::singleShot(0, this, [completion, problem = *problem] { completion(problem); });
        return;
    }
    // The password goes only to the collection the person connected and what it holds, whatever
    // a name read from the server resolves to: "..", which a server resolves, is resolved first.
    const QUrl &collection = m_account.collectionUrl;
    const QUrl resolved = url.adjusted(QUrl::NormalizePathSegments);
    if (resolved != collection && !collection.isParentOf(resolved)) {
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
    QPointer<WebDavClient> self(this);
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

void WebDavClient::sendWithPassword(const QString &password, const QByteArray &verb,
                                    const QUrl &url, const Headers &headers, const QByteArray &body,
                                    ResponseCompletion completion)
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

CloudResult<WebDavResponse> WebDavClient::finish(QNetworkReply *reply, LimitedReplyBody &body) const
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

    WebDavResponse response;
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
