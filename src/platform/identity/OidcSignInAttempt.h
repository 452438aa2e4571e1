#pragma once

#include "identity/BrowserOpener.h"
#include "identity/OidcDiscovery.h"
#include "identity/OidcSettings.h"
#include "services/IdentityProvider.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>

#include <functional>
#include <optional>

class OidcLoopbackListener;
class OidcSecretStore;
class QNetworkAccessManager;

/// What a sign-in works with. The pointers belong to the provider, which owns the attempt and so
/// outlives it.
struct OidcAttemptTools
{
    OidcSettings settings;
    BrowserOpener openBrowser;
    /// Words a failure for the page the browser shows at the end; the page gives only its
    /// heading without it.
    BrowserPageWording describeFailure;
    std::function<QDateTime()> clock;
    QNetworkAccessManager *network = nullptr;
    OidcSecretStore *secrets = nullptr;
};

/// One sign-in, from opening the browser to the credential: discovery, PKCE, the redirect, the
/// code exchange, the ID token's checks, the user info and storing the refresh token. It owns the
/// redirect listener and every request it sends, so destroying it ends the sign-in cleanly.
class OidcSignInAttempt : public QObject
{
public:
    OidcSignInAttempt(OidcAttemptTools tools, AuthorizationRequest request,
                      std::function<void(AuthorizationOutcome)> completion, QObject *parent);

    void start();
    /// Ends the sign-in with \a error unless it has already ended; the completion is called now.
    void fail(AuthorizationError error) { finish(error); }

private:
    bool requests(AuthorizationScope scope) const
    {
        return m_request.requestedScopes.contains(scope);
    }
    void fail(AuthorizationError::Kind kind, const QString &detail = {})
    {
        finish(AuthorizationError{kind, detail});
    }
    void openBrowser();
    void takeRedirect(const QUrl &url);
    void exchangeCode(const QString &code);
    void validate(const QJsonObject &tokens, const QJsonObject &keys);
    void readUserInfo(const QString &accessToken, const QJsonObject &claims);
    void complete(const QJsonObject &claims);
    void finish(AuthorizationOutcome outcome);

    OidcAttemptTools m_tools;
    AuthorizationRequest m_request;
    std::function<void(AuthorizationOutcome)> m_completion;
    OidcLoopbackListener *m_listener = nullptr;
    OidcEndpoints m_endpoints;
    QByteArray m_state;
    QByteArray m_nonce;
    QByteArray m_codeVerifier;
    QString m_refreshToken;
    bool m_finished = false;
};

/// The refresh token kept in the secret store, with the user it recognises.
struct OidcStoredRefresh
{
    QString user;
    QString refreshToken;

    QString encoded() const;
    /// Nothing when \a text is not a stored refresh token with both values.
    static std::optional<OidcStoredRefresh> decode(const QString &text);
};
