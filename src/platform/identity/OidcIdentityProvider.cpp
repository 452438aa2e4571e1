#include "identity/OidcIdentityProvider.h"

#include "identity/OidcDiscovery.h"
#include "identity/OidcSecretStore.h"
#include "identity/OidcSignInAttempt.h"

#include <QNetworkAccessManager>

OidcIdentityProvider::OidcIdentityProvider(OidcSettings settings, BrowserOpener openBrowser,
                                           std::unique_ptr<OidcSecretStore> secrets,
                                           QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_openBrowser(std::move(openBrowser)),
      m_secrets(std::move(secrets)), m_network(new QNetworkAccessManager(this))
{
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

OidcIdentityProvider::~OidcIdentityProvider() = default;

void OidcIdentityProvider::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void OidcIdentityProvider::setBrowserPageWording(BrowserPageWording wording)
{
    m_browserPageWording = std::move(wording);
}

void OidcIdentityProvider::forget(const QString &user)
{
    Q_UNUSED(user); // One token is stored per build's provider and client, whoever it belongs to.
    m_secrets->removeSecret(secretKey(), [] {});
}

QString OidcIdentityProvider::name() const
{
    const QString host = QUrl(m_settings.issuer).host();
    return host.isEmpty() ? m_settings.issuer : host;
}

void OidcIdentityProvider::performRequest(const AuthorizationRequest &request,
                                          std::function<void(AuthorizationOutcome)> completion)
{
    if (m_attempt)
        m_attempt->fail(AuthorizationError{AuthorizationError::Kind::superseded});
    OidcAttemptTools tools{m_settings, m_openBrowser, m_browserPageWording,
                           m_clock,    m_network,     m_secrets.get()};
    m_attempt = new OidcSignInAttempt(std::move(tools), request, std::move(completion), this);
    m_attempt->start();
}

void OidcIdentityProvider::credentialState(const QString &user,
                                           std::function<void(CredentialState)> completion)
{
    const QPointer<OidcIdentityProvider> self(this);
    m_secrets->readSecret(secretKey(), [self, user, completion = std::move(completion)](
                                           const OidcSecretStore::ReadResult &read) {
        if (!self)
            return;
        // A keyring that cannot be asked says nothing about the person: signed out for now,
        // remembered for the next launch.
        if (read.status == OidcSecretStore::ReadStatus::unavailable) {
            completion(CredentialState::unreachable);
            return;
        }
        const auto stored = read.status == OidcSecretStore::ReadStatus::found
                                ? OidcStoredRefresh::decode(read.secret)
                                : std::nullopt;
        if (!stored || stored->user != user) {
            completion(CredentialState::notFound);
            return;
        }
        self->refresh(user, stored->refreshToken, completion);
    });
}

void OidcIdentityProvider::refresh(const QString &user, const QString &refreshToken,
                                   std::function<void(CredentialState)> completion)
{
    discoverOidcEndpoints(
        m_network, m_settings.issuer, this,
        [this, user, refreshToken, completion](const OidcDiscoveryResult &result) {
            if (!std::holds_alternative<OidcEndpoints>(result)) {
                completion(CredentialState::unreachable);
                return;
            }
            const OidcFormFields form{
                {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                {QStringLiteral("refresh_token"), refreshToken},
                {QStringLiteral("client_id"), m_settings.clientId},
            };
            oidcPostForm(m_network, std::get<OidcEndpoints>(result).token, form, this,
                         [this, user, refreshToken, completion](const OidcHttpAnswer &answer) {
                             takeRefreshAnswer(answer, user, refreshToken, completion);
                         });
        });
}

void OidcIdentityProvider::takeRefreshAnswer(const OidcHttpAnswer &answer, const QString &user,
                                             const QString &refreshToken,
                                             std::function<void(CredentialState)> completion)
{
    const QPointer<OidcIdentityProvider> self(this);
    auto answerWith = [self, completion](CredentialState state) {
        if (self)
            completion(state);
    };
    if (answer.succeeded()) {
        // Providers may hand out a new refresh token and retire the old one; keeping the old one
        // would find the person revoked at the next launch.
        const QString rotated = answer.body.value(QLatin1StringView("refresh_token")).toString();
        if (rotated.isEmpty() || rotated == refreshToken) {
            completion(CredentialState::authorized);
            return;
        }
        m_secrets->writeSecret(secretKey(), OidcStoredRefresh{user, rotated}.encoded(),
                               [answerWith](OidcSecretStore::WriteStatus) {
                                   answerWith(CredentialState::authorized);
                               });
        return;
    }
    if (answer.answered && answer.errorCode() == QLatin1StringView("invalid_grant")) {
        m_secrets->removeSecret(secretKey(),
                                [answerWith] { answerWith(CredentialState::revoked); });
        return;
    }
    // The provider could not be reached or failed in some other way: that says nothing about
    // the person, so the token stays for the next launch.
    completion(CredentialState::unreachable);
}
