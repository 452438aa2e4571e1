#pragma once

#include "services/IdentityProvider.h"

#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <utility>
#include <variant>

class QNetworkAccessManager;
class QObject;

/// One HTTP exchange with the provider, as far as the sign-in cares.
struct OidcHttpAnswer
{
    /// False when no HTTP answer came at all: no connection, a timeout, a TLS failure, or one
    /// refused whatever it said.
    bool answered = false;
    int status = 0;
    QJsonObject body;
    /// Why an answer was refused unread: a redirect, or a body past the size limit.
    std::optional<AuthorizationError> refusal;

    bool succeeded() const { return answered && status >= 200 && status < 300; }
    QString errorCode() const { return body.value(QLatin1StringView("error")).toString(); }
};

/// Where a provider's discovery document says its endpoints are.
struct OidcEndpoints
{
    QUrl authorization;
    QUrl token;
    QUrl keys;
    QUrl userInfo;
};

using OidcFormFields = QList<std::pair<QString, QString>>;
using OidcDiscoveryResult = std::variant<OidcEndpoints, AuthorizationError>;

/// A request for a JSON answer that never follows a redirect and gives up after a while: a
/// redirect would carry the code and its verifier, or the access token, wherever it points.
QNetworkRequest oidcJsonRequest(const QUrl &url);

/// Sends \a request; the reply belongs to \a context, so a sign-in that ends early aborts it, and
/// an answer past the size limit or redirecting elsewhere is refused unread.
void oidcGetJson(QNetworkAccessManager *network, const QNetworkRequest &request, QObject *context,
                 std::function<void(OidcHttpAnswer)> completion);
void oidcPostForm(QNetworkAccessManager *network, const QUrl &url, const OidcFormFields &form,
                  QObject *context, std::function<void(OidcHttpAnswer)> completion);

/// Every name and value percent-encoded in full, so a "+" or "&" inside a token or code reaches
/// the provider as itself.
QByteArray oidcFormEncoded(const OidcFormFields &fields);

/// Fetches \a issuer's discovery document and keeps its endpoints only when a sign-in may use
/// them: the document names exactly this issuer, and every endpoint is HTTPS or on this machine.
/// Fails with providerUnreachable or discoveryInvalid.
void discoverOidcEndpoints(QNetworkAccessManager *network, const QString &issuer, QObject *context,
                           std::function<void(OidcDiscoveryResult)> completion);

/// Fetches \a issuer's discovery document and checks it exactly as a sign-in does. Completes
/// with nothing when a sign-in could use it, otherwise with what a sign-in would fail with; the
/// reply belongs to \a context.
void checkOidcIssuer(QNetworkAccessManager *network, const QString &issuer, QObject *context,
                     std::function<void(std::optional<AuthorizationError> problem)> completion);
