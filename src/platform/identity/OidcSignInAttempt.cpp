#include "identity/OidcSignInAttempt.h"

#include "identity/OidcIdToken.h"
#include "identity/OidcLoopbackListener.h"
#include "identity/OidcSecretStore.h"

#include <QJsonDocument>
#include <QPointer>
#include <QUrlQuery>

namespace {

constexpr int randomTokenBytes = 32;

std::optional<PersonNameComponents> nameComponents(const QJsonObject &claims)
{
    auto claim = [&claims](const char *name) {
        return claims.value(QLatin1StringView(name)).toString();
    };
    PersonNameComponents name;
    name.givenName = claim("given_name");
    name.middleName = claim("middle_name");
    name.familyName = claim("family_name");
    name.nickname = claim("nickname");
    // A provider that only knows the whole name as one string still gets it shown.
    if (name.givenName.isEmpty() && name.middleName.isEmpty() && name.familyName.isEmpty())
        name.givenName = claim("name");
    if (name == PersonNameComponents())
        return std::nullopt;
    return name;
}

} // namespace

QString OidcStoredRefresh::encoded() const
{
    const QJsonObject object{{QStringLiteral("user"), user},
                             {QStringLiteral("refreshToken"), refreshToken}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<OidcStoredRefresh> OidcStoredRefresh::decode(const QString &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    OidcStoredRefresh stored{object.value(QLatin1StringView("user")).toString(),
                             object.value(QLatin1StringView("refreshToken")).toString()};
    if (stored.user.isEmpty() || stored.refreshToken.isEmpty())
        return std::nullopt;
    return stored;
}

OidcSignInAttempt::OidcSignInAttempt(OidcAttemptTools tools, AuthorizationRequest request,
                                     std::function<void(AuthorizationOutcome)> completion,
                                     QObject *parent)
    : QObject(parent), m_tools(std::move(tools)), m_request(std::move(request)),
      m_completion(std::move(completion))
{}

void OidcSignInAttempt::start()
{
    m_state = randomUrlSafeToken(randomTokenBytes);
    m_nonce = randomUrlSafeToken(randomTokenBytes);
    m_codeVerifier = randomUrlSafeToken(randomTokenBytes);
    if (m_state.isEmpty() || m_nonce.isEmpty() || m_codeVerifier.isEmpty()) {
        fail(AuthorizationError::Kind::randomUnavailable);
        return;
    }
    discoverOidcEndpoints(m_tools.network, m_tools.settings.issuer, this,
                          [this](const OidcDiscoveryResult &result) {
                              if (const auto *error = std::get_if<AuthorizationError>(&result)) {
                                  fail(*error);
                                  return;
                              }
                              m_endpoints = std::get<OidcEndpoints>(result);
                              openBrowser();
                          });
}

void OidcSignInAttempt::openBrowser()
{
    m_listener = new OidcLoopbackListener(m_tools.settings.redirectTimeLimit, m_state, this);
    if (!m_listener->listen()) {
        fail(AuthorizationError::Kind::listenerFailed);
        return;
    }
    connect(m_listener, &OidcLoopbackListener::timedOut, this,
            [this] { fail(AuthorizationError::Kind::timedOut); });
    connect(m_listener, &OidcLoopbackListener::requestReceived, this,
            &OidcSignInAttempt::takeRedirect);

    // The refresh token (offline access) is what lets a later launch ask whether the person is
    // still signed in; providers hand it out only with explicit consent.
    QStringList scopes{QStringLiteral("openid"), QStringLiteral("offline_access")};
    if (requests(AuthorizationScope::fullName))
        scopes.append(QStringLiteral("profile"));
    if (requests(AuthorizationScope::email))
        scopes.append(QStringLiteral("email"));
    const QByteArray parameters = oidcFormEncoded({
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("client_id"), m_tools.settings.clientId},
        {QStringLiteral("redirect_uri"), m_listener->redirectUri().toString(QUrl::FullyEncoded)},
        {QStringLiteral("scope"), scopes.join(QLatin1Char(' '))},
        {QStringLiteral("state"), QString::fromLatin1(m_state)},
        {QStringLiteral("nonce"), QString::fromLatin1(m_nonce)},
        {QStringLiteral("code_challenge"), QString::fromLatin1(pkceS256Challenge(m_codeVerifier))},
        {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
        {QStringLiteral("prompt"), QStringLiteral("consent")},
    });
    QUrl url = m_endpoints.authorization;
    const QByteArray existing = url.query(QUrl::FullyEncoded).toLatin1();
    url.setQuery(QString::fromLatin1(existing.isEmpty() ? parameters : existing + '&' + parameters),
                 QUrl::StrictMode);
    if (!m_tools.openBrowser || !m_tools.openBrowser(url))
        fail(AuthorizationError::Kind::browserUnavailable);
}

void OidcSignInAttempt::takeRedirect(const QUrl &url)
{
    using Kind = AuthorizationError::Kind;
    const QUrl expected = m_listener->redirectUri();
    const QUrlQuery query(url);
    auto parameter = [&query](const char *name) {
        return query.queryItemValue(QLatin1StringView(name), QUrl::FullyDecoded);
    };
    if (url.adjusted(QUrl::RemoveQuery) != expected || parameter("state").toLatin1() != m_state) {
        fail(Kind::redirectTampered);
        return;
    }
    // Providers that name themselves in the response guard against a response from another
    // provider being replayed here.
    if (query.hasQueryItem(QStringLiteral("iss")) && parameter("iss") != m_tools.settings.issuer) {
        fail(Kind::redirectTampered);
        return;
    }
    const QString error = parameter("error");
    if (error == QLatin1StringView("access_denied")) {
        fail(Kind::cancelled);
        return;
    }
    if (!error.isEmpty()) {
        fail(Kind::providerRefused, error);
        return;
    }
    const QString code = parameter("code");
    if (code.isEmpty()) {
        fail(Kind::redirectTampered);
        return;
    }
    exchangeCode(code);
}

void OidcSignInAttempt::exchangeCode(const QString &code)
{
    using Kind = AuthorizationError::Kind;
    const OidcFormFields form{
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("code"), code},
        {QStringLiteral("redirect_uri"), m_listener->redirectUri().toString(QUrl::FullyEncoded)},
        {QStringLiteral("client_id"), m_tools.settings.clientId},
        {QStringLiteral("code_verifier"), QString::fromLatin1(m_codeVerifier)},
    };
    oidcPostForm(m_tools.network, m_endpoints.token, form, this,
                 [this](const OidcHttpAnswer &answer) {
                     if (answer.refusal) {
                         fail(*answer.refusal);
                         return;
                     }
                     if (!answer.answered || answer.status >= 500) {
                         fail(Kind::providerUnreachable);
                         return;
                     }
                     if (!answer.succeeded()) {
                         fail(Kind::tokenExchangeFailed, answer.errorCode().isEmpty()
                                                             ? QString::number(answer.status)
                                                             : answer.errorCode());
                         return;
                     }
                     const QJsonObject tokens = answer.body;
                     if (!tokens.value(QLatin1StringView("id_token")).isString()) {
                         fail(Kind::idTokenMissing);
                         return;
                     }
                     // The keys are fetched for every sign-in, so a provider that has rotated its
                     // keys is followed without a cache to go stale.
                     oidcGetJson(m_tools.network, oidcJsonRequest(m_endpoints.keys), this,
                                 [this, tokens](const OidcHttpAnswer &keys) {
                                     if (!keys.succeeded()) {
                                         fail(Kind::keysUnavailable);
                                         return;
                                     }
                                     validate(tokens, keys.body);
                                 });
                 });
}

void OidcSignInAttempt::validate(const QJsonObject &tokens, const QJsonObject &keys)
{
    const OidcSettings &settings = m_tools.settings;
    const IdTokenExpectations expectations{settings.issuer, settings.clientId,
                                           QString::fromLatin1(m_nonce), m_tools.clock(),
                                           settings.clockLeeway};
    const IdTokenVerdict verdict = validateIdToken(
        tokens.value(QLatin1StringView("id_token")).toString().toLatin1(), keys, expectations);
    if (const auto *fault = std::get_if<IdTokenFault>(&verdict)) {
        finish(AuthorizationError::invalidIdToken(*fault));
        return;
    }
    m_refreshToken = tokens.value(QLatin1StringView("refresh_token")).toString();
    const QJsonObject claims = std::get<QJsonObject>(verdict);
    const QString accessToken = tokens.value(QLatin1StringView("access_token")).toString();
    const bool wantsProfile =
        requests(AuthorizationScope::fullName) || requests(AuthorizationScope::email);
    if (wantsProfile && !accessToken.isEmpty() && !m_endpoints.userInfo.isEmpty())
        readUserInfo(accessToken, claims);
    else
        complete(claims);
}

void OidcSignInAttempt::readUserInfo(const QString &accessToken, const QJsonObject &claims)
{
    // Many providers put the name and e-mail only behind the user info endpoint, not into the
    // ID token. Its answer counts only for the very subject the validated token names.
    QNetworkRequest request = oidcJsonRequest(m_endpoints.userInfo);
    request.setRawHeader("Authorization", "Bearer " + accessToken.toLatin1());
    oidcGetJson(m_tools.network, request, this, [this, claims](const OidcHttpAnswer &answer) {
        QJsonObject merged = claims;
        if (answer.succeeded() &&
            answer.body.value(QLatin1StringView("sub")) == claims.value(QLatin1StringView("sub"))) {
            for (auto it = answer.body.constBegin(); it != answer.body.constEnd(); ++it) {
                if (!merged.contains(it.key()))
                    merged.insert(it.key(), it.value());
            }
        }
        complete(merged);
    });
}

void OidcSignInAttempt::complete(const QJsonObject &claims)
{
    IdentityCredential credential;
    credential.user =
        m_tools.settings.userIdentifier(claims.value(QLatin1StringView("sub")).toString());
    if (requests(AuthorizationScope::fullName))
        credential.fullName = nameComponents(claims);
    const QString email = claims.value(QLatin1StringView("email")).toString();
    if (requests(AuthorizationScope::email) && !email.isEmpty())
        credential.email = email;

    const QPointer<OidcSignInAttempt> self(this);
    auto done = [self, credential](IdentityCredential::Notice notice) mutable {
        credential.notice = notice;
        if (self)
            self->finish(Authorization{credential});
    };
    // Only the newest sign-in is remembered; one that brought no refresh token leaves nothing
    // behind that a later launch could mistake for it. A keyring that refuses the token does not
    // undo the sign-in: the person is signed in now, is told so, and is asked again at the next
    // launch.
    const QString key = m_tools.settings.secretKey();
    if (m_refreshToken.isEmpty()) {
        m_tools.secrets->removeSecret(
            key, [done]() mutable { done(IdentityCredential::Notice::noRefreshToken); });
        return;
    }
    m_tools.secrets->writeSecret(key, OidcStoredRefresh{credential.user, m_refreshToken}.encoded(),
                                 [done](OidcSecretStore::WriteStatus status) mutable {
                                     done(status == OidcSecretStore::WriteStatus::stored
                                              ? IdentityCredential::Notice::none
                                              : IdentityCredential::Notice::noKeyring);
                                 });
}

void OidcSignInAttempt::finish(AuthorizationOutcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_listener) {
        if (const auto *error = std::get_if<AuthorizationError>(&outcome))
            m_listener->answer(QStringLiteral("登录未完成"), m_tools.describeFailure
                                                                 ? m_tools.describeFailure(*error)
                                                                 : QString());
        else
            m_listener->answer(QStringLiteral("登录成功"),
                               QStringLiteral("可以关闭此页面，回到 Lumaret。"));
    }
    auto completion = std::move(m_completion);
    deleteLater();
    completion(std::move(outcome));
}
