#include "identity/OidcIdentityProvider.h"

#include "identity/OidcIdToken.h"
#include "identity/OidcLoopbackListener.h"
#include "identity/OidcSecretStore.h"
#include "network/LimitedReplyBody.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

/// One HTTP exchange with the provider, as far as the sign-in cares.
struct OidcHttpAnswer
{
    /// False when no HTTP answer came at all: no connection, a timeout, a TLS failure, or one
    /// refused whatever it said.
    bool answered = false;
    int status = 0;
    QJsonObject body;
    /// Why an answer was refused unread: a redirect, or a body past the size limit.
    QString refusal;

    bool succeeded() const { return answered && status >= 200 && status < 300; }
    QString errorCode() const { return body.value(QLatin1StringView("error")).toString(); }
};

namespace {

constexpr std::chrono::seconds networkTimeLimit{30};
constexpr int randomTokenBytes = 32;
// Discovery documents, key sets and token answers are a few kilobytes; a provider that sends more
// is not to be read into memory whole.
constexpr qint64 answerSizeLimit = 1024 * 1024;

QString unreachableMessage()
{
    return QStringLiteral("无法连接登录服务，请检查网络后重试。");
}

QString tamperedMessage()
{
    return QStringLiteral("浏览器返回的登录结果无效，可能被篡改，已中止登录。");
}

QString idTokenFaultText(IdTokenFault fault)
{
    switch (fault) {
    case IdTokenFault::malformed:
        return QStringLiteral("格式错误");
    case IdTokenFault::unsupportedAlgorithm:
        return QStringLiteral("签名算法不受支持");
    case IdTokenFault::noMatchingKey:
        return QStringLiteral("找不到签名所用的密钥");
    case IdTokenFault::badSignature:
        return QStringLiteral("签名无法验证");
    case IdTokenFault::wrongIssuer:
        return QStringLiteral("签发者不符");
    case IdTokenFault::wrongAudience:
        return QStringLiteral("接收方不符");
    case IdTokenFault::expired:
        return QStringLiteral("已过期");
    case IdTokenFault::wrongNonce:
        return QStringLiteral("与本次登录不符");
    case IdTokenFault::missingSubject:
        return QStringLiteral("缺少用户标识");
    }
    return QString();
}

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

QNetworkRequest jsonRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(int(std::chrono::milliseconds(networkTimeLimit).count()));
    // A redirect would carry the code and its verifier, or the access token, to wherever the
    // answer points; a provider has no reason to send one.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept", "application/json");
    return request;
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
                answer.refusal = QStringLiteral("登录服务的回答超过 %1 MiB，已拒绝读取。")
                                     .arg(answerSizeLimit / (1024 * 1024));
            else if (answer.status >= 300 && answer.status < 400)
                answer.refusal =
                    QStringLiteral("登录服务要求跳转到别处，Lumaret 不跟随登录请求的跳转。");
            answer.answered = status.isValid() && answer.refusal.isEmpty();
            if (answer.answered)
                answer.body = QJsonDocument::fromJson(data).object();
            completion(answer);
        });
}

void getJson(QNetworkAccessManager *network, QNetworkRequest request, QObject *context,
             std::function<void(OidcHttpAnswer)> completion)
{
    finishWith(network->get(request), context, std::move(completion));
}

using Fields = QList<std::pair<QString, QString>>;

// Every name and value is percent-encoded in full, so a "+" or "&" inside a token or code reaches
// the provider as itself.
QByteArray formEncoded(const Fields &fields)
{
    QByteArrayList pairs;
    for (const auto &[name, value] : fields)
        pairs.append(QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value));
    return pairs.join('&');
}

void postForm(QNetworkAccessManager *network, const QUrl &url, const Fields &form, QObject *context,
              std::function<void(OidcHttpAnswer)> completion)
{
    QNetworkRequest request = jsonRequest(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    finishWith(network->post(request, formEncoded(form)), context, std::move(completion));
}

struct Endpoints
{
    QUrl authorization;
    QUrl token;
    QUrl keys;
    QUrl userInfo;
};

enum class DiscoveryFailure { unreachable, invalid };
using DiscoveryResult = std::variant<Endpoints, DiscoveryFailure>;

void discover(QNetworkAccessManager *network, const QString &issuer, QObject *context,
              std::function<void(DiscoveryResult)> completion)
{
    QString base = issuer;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + QStringLiteral("/.well-known/openid-configuration"));
    if (!isTrustworthy(url)) {
        completion(DiscoveryFailure::invalid);
        return;
    }
    getJson(network, jsonRequest(url), context,
            [issuer, completion = std::move(completion)](const OidcHttpAnswer &answer) {
                // A document that moved or never ends is no configuration to sign in with.
                if (!answer.refusal.isEmpty()) {
                    completion(DiscoveryFailure::invalid);
                    return;
                }
                if (!answer.answered || answer.status >= 500) {
                    completion(DiscoveryFailure::unreachable);
                    return;
                }
                const QJsonObject &document = answer.body;
                auto endpoint = [&document](const char *name) {
                    return QUrl(document.value(QLatin1StringView(name)).toString());
                };
                Endpoints endpoints{endpoint("authorization_endpoint"), endpoint("token_endpoint"),
                                    endpoint("jwks_uri"), endpoint("userinfo_endpoint")};
                // A document that names another issuer could hand this client to a provider
                // it was never configured for.
                const bool valid =
                    answer.succeeded() &&
                    document.value(QLatin1StringView("issuer")).toString() == issuer &&
                    isTrustworthy(endpoints.authorization) && isTrustworthy(endpoints.token) &&
                    isTrustworthy(endpoints.keys) &&
                    (endpoints.userInfo.isEmpty() || isTrustworthy(endpoints.userInfo));
                if (!valid) {
                    completion(DiscoveryFailure::invalid);
                    return;
                }
                completion(endpoints);
            });
}

struct StoredRefresh
{
    QString user;
    QString refreshToken;
};

QString encodeStoredRefresh(const StoredRefresh &stored)
{
    const QJsonObject object{{QStringLiteral("user"), stored.user},
                             {QStringLiteral("refreshToken"), stored.refreshToken}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<StoredRefresh> decodeStoredRefresh(const QString &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    StoredRefresh stored{object.value(QLatin1StringView("user")).toString(),
                         object.value(QLatin1StringView("refreshToken")).toString()};
    if (stored.user.isEmpty() || stored.refreshToken.isEmpty())
        return std::nullopt;
    return stored;
}

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

/// One sign-in, from opening the browser to the credential. It owns the redirect listener and
/// every request it sends, so destroying it ends the sign-in cleanly.
class OidcSignInAttempt : public QObject
{
public:
    OidcSignInAttempt(OidcIdentityProvider *provider, AuthorizationRequest request,
                      std::function<void(AuthorizationOutcome)> completion)
        : QObject(provider), m_provider(provider), m_request(std::move(request)),
          m_completion(std::move(completion))
    {}

    void start();
    void fail(const QString &message) { finish(AuthorizationError{message}); }

private:
    bool requests(AuthorizationScope scope) const
    {
        return m_request.requestedScopes.contains(scope);
    }
    void openBrowser();
    void takeRedirect(const QUrl &url);
    void exchangeCode(const QString &code);
    void validate(const QJsonObject &tokens, const QJsonObject &keys);
    void readUserInfo(const QString &accessToken, const QJsonObject &claims);
    void complete(const QJsonObject &claims);
    void finish(AuthorizationOutcome outcome);

    OidcIdentityProvider *m_provider;
    AuthorizationRequest m_request;
    std::function<void(AuthorizationOutcome)> m_completion;
    OidcLoopbackListener *m_listener = nullptr;
    Endpoints m_endpoints;
    QByteArray m_state;
    QByteArray m_nonce;
    QByteArray m_codeVerifier;
    QString m_refreshToken;
    bool m_finished = false;
};

void OidcSignInAttempt::start()
{
    m_state = randomUrlSafeToken(randomTokenBytes);
    m_nonce = randomUrlSafeToken(randomTokenBytes);
    m_codeVerifier = randomUrlSafeToken(randomTokenBytes);
    if (m_state.isEmpty() || m_nonce.isEmpty() || m_codeVerifier.isEmpty()) {
        fail(QStringLiteral("无法生成安全的随机数，无法登录。"));
        return;
    }
    discover(m_provider->m_network, m_provider->m_settings.issuer, this,
             [this](const DiscoveryResult &result) {
                 if (const auto *failure = std::get_if<DiscoveryFailure>(&result)) {
                     fail(*failure == DiscoveryFailure::unreachable
                              ? unreachableMessage()
                              : QStringLiteral("登录服务的配置无效，无法登录。"));
                     return;
                 }
                 m_endpoints = std::get<Endpoints>(result);
                 openBrowser();
             });
}

void OidcSignInAttempt::openBrowser()
{
    m_listener = new OidcLoopbackListener(m_provider->m_settings.redirectTimeLimit, m_state, this);
    if (!m_listener->listen()) {
        fail(QStringLiteral("无法在本机接收登录结果，请稍后重试。"));
        return;
    }
    connect(m_listener, &OidcLoopbackListener::timedOut, this,
            [this] { fail(QStringLiteral("登录超时：没有在限定时间内从浏览器收到登录结果。")); });
    connect(m_listener, &OidcLoopbackListener::requestReceived, this,
            &OidcSignInAttempt::takeRedirect);

    // The refresh token (offline access) is what lets a later launch ask whether the person is
    // still signed in; providers hand it out only with explicit consent.
    QStringList scopes{QStringLiteral("openid"), QStringLiteral("offline_access")};
    if (requests(AuthorizationScope::fullName))
        scopes.append(QStringLiteral("profile"));
    if (requests(AuthorizationScope::email))
        scopes.append(QStringLiteral("email"));
    const QByteArray parameters = formEncoded({
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("client_id"), m_provider->m_settings.clientId},
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
    if (!m_provider->m_openBrowser || !m_provider->m_openBrowser(url))
        fail(QStringLiteral("无法打开浏览器进行登录。"));
}

void OidcSignInAttempt::takeRedirect(const QUrl &url)
{
    const QUrl expected = m_listener->redirectUri();
    const QUrlQuery query(url);
    auto parameter = [&query](const char *name) {
        return query.queryItemValue(QLatin1StringView(name), QUrl::FullyDecoded);
    };
    if (url.adjusted(QUrl::RemoveQuery) != expected || parameter("state").toLatin1() != m_state) {
        fail(tamperedMessage());
        return;
    }
    // Providers that name themselves in the response guard against a response from another
    // provider being replayed here.
    if (query.hasQueryItem(QStringLiteral("iss")) &&
        parameter("iss") != m_provider->m_settings.issuer) {
        fail(tamperedMessage());
        return;
    }
    const QString error = parameter("error");
    if (error == QLatin1StringView("access_denied")) {
        fail(QStringLiteral("登录已被拒绝或取消。"));
        return;
    }
    if (!error.isEmpty()) {
        fail(QStringLiteral("登录服务报告了错误（%1），登录未完成。").arg(error));
        return;
    }
    const QString code = parameter("code");
    if (code.isEmpty()) {
        fail(tamperedMessage());
        return;
    }
    exchangeCode(code);
}

void OidcSignInAttempt::exchangeCode(const QString &code)
{
    const Fields form{
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("code"), code},
        {QStringLiteral("redirect_uri"), m_listener->redirectUri().toString(QUrl::FullyEncoded)},
        {QStringLiteral("client_id"), m_provider->m_settings.clientId},
        {QStringLiteral("code_verifier"), QString::fromLatin1(m_codeVerifier)},
    };
    postForm(m_provider->m_network, m_endpoints.token, form, this,
             [this](const OidcHttpAnswer &answer) {
                 if (!answer.answered || answer.status >= 500) {
                     fail(answer.refusal.isEmpty() ? unreachableMessage() : answer.refusal);
                     return;
                 }
                 if (!answer.succeeded()) {
                     fail(QStringLiteral("登录服务没有接受这次登录（%1），请重新登录。")
                              .arg(answer.errorCode().isEmpty() ? QString::number(answer.status)
                                                                : answer.errorCode()));
                     return;
                 }
                 const QJsonObject tokens = answer.body;
                 if (!tokens.value(QLatin1StringView("id_token")).isString()) {
                     fail(QStringLiteral("登录服务没有返回身份令牌，无法登录。"));
                     return;
                 }
                 // The keys are fetched for every sign-in, so a provider that has rotated its keys
                 // is followed without a cache to go stale.
                 getJson(m_provider->m_network, jsonRequest(m_endpoints.keys), this,
                         [this, tokens](const OidcHttpAnswer &keys) {
                             if (!keys.succeeded()) {
                                 fail(QStringLiteral("无法取得登录服务的签名密钥，无法验证登录。"));
                                 return;
                             }
                             validate(tokens, keys.body);
                         });
             });
}

void OidcSignInAttempt::validate(const QJsonObject &tokens, const QJsonObject &keys)
{
    const OidcSettings &settings = m_provider->m_settings;
    const IdTokenExpectations expectations{settings.issuer, settings.clientId,
                                           QString::fromLatin1(m_nonce), m_provider->m_clock(),
                                           settings.clockLeeway};
    const IdTokenVerdict verdict = validateIdToken(
        tokens.value(QLatin1StringView("id_token")).toString().toLatin1(), keys, expectations);
    if (const auto *fault = std::get_if<IdTokenFault>(&verdict)) {
        fail(QStringLiteral("登录服务返回的身份令牌无效（%1），已拒绝这次登录。")
                 .arg(idTokenFaultText(*fault)));
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
    QNetworkRequest request = jsonRequest(m_endpoints.userInfo);
    request.setRawHeader("Authorization", "Bearer " + accessToken.toLatin1());
    getJson(m_provider->m_network, request, this, [this, claims](const OidcHttpAnswer &answer) {
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
    credential.user = m_provider->userIdentifier(claims.value(QLatin1StringView("sub")).toString());
    if (requests(AuthorizationScope::fullName))
        credential.fullName = nameComponents(claims);
    const QString email = claims.value(QLatin1StringView("email")).toString();
    if (requests(AuthorizationScope::email) && !email.isEmpty())
        credential.email = email;

    const QPointer<OidcSignInAttempt> self(this);
    auto done = [self, credential](const QString &notice) mutable {
        credential.notice = notice;
        if (self)
            self->finish(Authorization{credential});
    };
    // Only the newest sign-in is remembered; one that brought no refresh token leaves nothing
    // behind that a later launch could mistake for it. A keyring that refuses the token does not
    // undo the sign-in: the person is signed in now, is told so, and is asked again at the next
    // launch.
    if (m_refreshToken.isEmpty()) {
        m_provider->m_secrets->removeSecret(m_provider->secretKey(), [done]() mutable {
            done(QStringLiteral("身份提供方没有给出刷新令牌：下次启动 "
                                "Lumaret 时需要重新登录。"));
        });
        return;
    }
    m_provider->m_secrets->writeSecret(
        m_provider->secretKey(), encodeStoredRefresh({credential.user, m_refreshToken}),
        [done](OidcSecretStore::WriteStatus status) mutable {
            done(status == OidcSecretStore::WriteStatus::stored
                     ? QString()
                     : QStringLiteral("没有可用的密钥环（Secret Service），无法保存登录：下次启动 "
                                      "Lumaret 时需要重新登录。"));
        });
}

void OidcSignInAttempt::finish(AuthorizationOutcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_listener) {
        if (const auto *error = std::get_if<AuthorizationError>(&outcome))
            m_listener->answer(QStringLiteral("登录未完成"), error->localizedDescription);
        else
            m_listener->answer(QStringLiteral("登录成功"),
                               QStringLiteral("可以关闭此页面，回到 Lumaret。"));
    }
    auto completion = std::move(m_completion);
    deleteLater();
    completion(std::move(outcome));
}

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

QString OidcIdentityProvider::userIdentifier(const QString &subject) const
{
    return m_settings.issuer + QLatin1Char('#') + subject;
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

QString OidcIdentityProvider::secretKey() const
{
    return QStringLiteral("openid-refresh-token:%1@%2").arg(m_settings.clientId, m_settings.issuer);
}

void OidcIdentityProvider::performRequest(const AuthorizationRequest &request,
                                          std::function<void(AuthorizationOutcome)> completion)
{
    if (m_attempt)
        m_attempt->fail(QStringLiteral("登录已被新的登录取代。"));
    m_attempt = new OidcSignInAttempt(this, request, std::move(completion));
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
                                ? decodeStoredRefresh(read.secret)
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
    discover(m_network, m_settings.issuer, this,
             [this, user, refreshToken, completion](const DiscoveryResult &result) {
                 if (!std::holds_alternative<Endpoints>(result)) {
                     completion(CredentialState::unreachable);
                     return;
                 }
                 const Fields form{
                     {QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                     {QStringLiteral("refresh_token"), refreshToken},
                     {QStringLiteral("client_id"), m_settings.clientId},
                 };
                 postForm(m_network, std::get<Endpoints>(result).token, form, this,
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
        m_secrets->writeSecret(secretKey(), encodeStoredRefresh({user, rotated}),
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

void checkOidcIssuer(QNetworkAccessManager *network, const QString &issuer, QObject *context,
                     std::function<void(std::optional<QString> problem)> completion)
{
    discover(network, issuer, context,
             [completion = std::move(completion)](const DiscoveryResult &result) {
                 const auto *failure = std::get_if<DiscoveryFailure>(&result);
                 if (!failure)
                     completion(std::nullopt);
                 else if (*failure == DiscoveryFailure::unreachable)
                     completion(unreachableMessage());
                 else
                     completion(QStringLiteral(
                         "发现文档无效：地址须为 https（本机可用 http）且不跳转，文档中的 issuer "
                         "须与此地址完全相同，并列出授权、令牌和密钥地址。"));
             });
}
