#pragma once

#include "identity/BrowserOpener.h"
#include "identity/OidcSettings.h"
#include "services/IdentityProvider.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

struct OidcHttpAnswer;
class OidcSecretStore;
class OidcSignInAttempt;
class QNetworkAccessManager;

/// Signs in with an OpenID Connect provider the way a native application does: the system
/// browser, a one-shot redirect listener on 127.0.0.1, PKCE S256, state and nonce, and an ID
/// token whose signature, issuer, audience, expiry and nonce are checked before any claim is
/// used. The person is identified by issuer and subject together. The refresh token is the only
/// thing remembered, in the secret store; the credential state of a remembered person is the
/// provider's answer to refreshing it.
///
/// Completions arrive on the GUI thread, exactly once, unless the provider is destroyed first,
/// in which case they are dropped. A new sign-in ends one still waiting for the browser.
class OidcIdentityProvider : public QObject, public IdentityProvider
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    OidcIdentityProvider(OidcSettings settings, BrowserOpener openBrowser,
                         std::unique_ptr<OidcSecretStore> secrets, QObject *parent = nullptr);
    ~OidcIdentityProvider() override;

    /// Replaces the clock the ID token's expiry is checked against.
    void setClock(Clock clock);
    /// How the page the browser shows after a failed sign-in words the failure.
    void setBrowserPageWording(BrowserPageWording wording);

    /// The user identifier of a subject at this provider: issuer, "#", subject.
    QString userIdentifier(const QString &subject) const
    {
        return m_settings.userIdentifier(subject);
    }
    /// The secret store entry holding the refresh token of this build's provider and client.
    QString secretKey() const { return m_settings.secretKey(); }

    void credentialState(const QString &user,
                         std::function<void(CredentialState)> completion) override;
    void performRequest(const AuthorizationRequest &request,
                        std::function<void(AuthorizationOutcome)> completion) override;
    /// Removes the stored refresh token, so a signed-out person is not recognised again.
    void forget(const QString &user) override;
    /// The issuer's host: what the person typed, and what the browser will show them.
    QString name() const override;

private:
    void refresh(const QString &user, const QString &refreshToken,
                 std::function<void(CredentialState)> completion);
    void takeRefreshAnswer(const OidcHttpAnswer &answer, const QString &user,
                           const QString &refreshToken,
                           std::function<void(CredentialState)> completion);

    OidcSettings m_settings;
    BrowserOpener m_openBrowser;
    BrowserPageWording m_browserPageWording;
    std::unique_ptr<OidcSecretStore> m_secrets;
    Clock m_clock = [] { return QDateTime::currentDateTimeUtc(); };
    QNetworkAccessManager *m_network = nullptr;
    QPointer<OidcSignInAttempt> m_attempt;
};
