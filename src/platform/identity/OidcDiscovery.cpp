#include "identity/OidcDiscovery.h"

#include "network/LimitedReplyBody.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <chrono>

namespace {

constexpr std::chrono::seconds networkTimeLimit{30};
// Discovery documents, key sets and token answers are a few kilobytes; a provider that sends more
// is not to be read into memory whole.
constexpr qint64 answerSizeLimit = 1024 * 1024;

// Tokens and claims travel over plain HTTP only to this machine, which is where a test provider
// or a developer's own provider lives.
bool isTrustworthy(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1StringView("https"))
        return true;
    const QString host = url.host();
    return url.scheme() == QLatin1StringView("http") &&
           (host == QLatin1StringView("127.0.0.1") || host == QLatin1StringView("::1") ||
            host == QLatin1StringView("localhost"));
}

void finishWith(QNetworkReply *reply, QObject *context,
                std::function<void(OidcHttpAnswer)> completion)
{
    // The reply belongs to the context, so a sign-in that ends early aborts its requests.
    reply->setParent(context);
    auto *body = new LimitedReplyBody(reply, answerSizeLimit);
    QObject::connect(
        reply, &QNetworkReply::finished, context,
        [reply, body, completion = std::move(completion)] {
            reply->deleteLater();
            OidcHttpAnswer answer;
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            answer.status = status.toInt();
            const QByteArray data = body->take();
            if (body->exceeded())
                answer.refusal = AuthorizationError{AuthorizationError::Kind::answerTooLarge,
                                                    QString::number(answerSizeLimit >> 20)};
            else if (answer.status >= 300 && answer.status < 400)
                answer.refusal = AuthorizationError{AuthorizationError::Kind::answerRedirected};
            answer.answered = status.isValid() && !answer.refusal;
            if (answer.answered)
                answer.body = QJsonDocument::fromJson(data).object();
            completion(answer);
        });
}

} // namespace

QNetworkRequest oidcJsonRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(int(std::chrono::milliseconds(networkTimeLimit).count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept", "application/json");
    return request;
}

void oidcGetJson(QNetworkAccessManager *network, const QNetworkRequest &request, QObject *context,
                 std::function<void(OidcHttpAnswer)> completion)
{
    finishWith(network->get(request), context, std::move(completion));
}

QByteArray oidcFormEncoded(const OidcFormFields &fields)
{
    QByteArrayList pairs;
    for (const auto &[name, value] : fields)
        pairs.append(QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value));
    return pairs.join('&');
}

void oidcPostForm(QNetworkAccessManager *network, const QUrl &url, const OidcFormFields &form,
                  QObject *context, std::function<void(OidcHttpAnswer)> completion)
{
    QNetworkRequest request = oidcJsonRequest(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    finishWith(network->post(request, oidcFormEncoded(form)), context, std::move(completion));
}

void discoverOidcEndpoints(QNetworkAccessManager *network, const QString &issuer, QObject *context,
                           std::function<void(OidcDiscoveryResult)> completion)
{
    using Kind = AuthorizationError::Kind;
    QString base = issuer;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + QStringLiteral("/.well-known/openid-configuration"));
    if (!isTrustworthy(url)) {
        completion(AuthorizationError{Kind::discoveryInvalid});
        return;
    }
    oidcGetJson(
        network, oidcJsonRequest(url), context,
        [issuer, completion = std::move(completion)](const OidcHttpAnswer &answer) {
            // A document that moved or never ends is no configuration to sign in with.
            if (answer.refusal) {
                completion(AuthorizationError{Kind::discoveryInvalid});
                return;
            }
            if (!answer.answered || answer.status >= 500) {
                completion(AuthorizationError{Kind::providerUnreachable});
                return;
            }
            const QJsonObject &document = answer.body;
            auto endpoint = [&document](const char *name) {
                return QUrl(document.value(QLatin1StringView(name)).toString());
            };
            OidcEndpoints endpoints{endpoint("authorization_endpoint"), endpoint("token_endpoint"),
                                    endpoint("jwks_uri"), endpoint("userinfo_endpoint")};
            // A document that names another issuer could hand this client to a provider it was
            // never configured for.
            const bool valid = answer.succeeded() &&
                               document.value(QLatin1StringView("issuer")).toString() == issuer &&
                               isTrustworthy(endpoints.authorization) &&
                               isTrustworthy(endpoints.token) && isTrustworthy(endpoints.keys) &&
                               (endpoints.userInfo.isEmpty() || isTrustworthy(endpoints.userInfo));
            if (!valid) {
                completion(AuthorizationError{Kind::discoveryInvalid});
                return;
            }
            completion(endpoints);
        });
}

void checkOidcIssuer(QNetworkAccessManager *network, const QString &issuer, QObject *context,
                     std::function<void(std::optional<AuthorizationError> problem)> completion)
{
    discoverOidcEndpoints(network, issuer, context,
                          [completion = std::move(completion)](const OidcDiscoveryResult &result) {
                              if (const auto *problem = std::get_if<AuthorizationError>(&result))
                                  completion(*problem);
                              else
                                  completion(std::nullopt);
                          });
}
