#include "HostileHttpServer.h"
#include "OidcProviderFixture.h"
#include "identity/OidcIdToken.h"
#include "identity/OidcIdentityProvider.h"
#include "support/SignInMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;

namespace {

QUrl withQueryItem(const QUrl &url, const QString &name, const QString &value)
{
    QUrlQuery query(url);
    query.removeAllQueryItems(name);
    query.addQueryItem(name, value);
    QUrl changed = url;
    changed.setQuery(query);
    return changed;
}

QJsonObject with(QJsonObject object, const QString &name, const QJsonValue &value)
{
    object.insert(name, value);
    return object;
}

template <typename T> T waitFor(const std::optional<T> &answer, T timedOut)
{
    return QTest::qWaitFor([&] { return answer.has_value(); }, 20000) ? *answer : timedOut;
}

} // namespace

// Sign-in against a real OpenID provider on loopback, and the checks an ID token must pass.
class OidcProviderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void failedSignInsKeepWhatWasStored_data();
    void failedSignInsKeepWhatWasStored();
    void signInThenRefreshDecideWhoIsSignedIn();
    void refreshWithoutAnAnswerKeepsTheToken_data();
    void refreshWithoutAnAnswerKeepsTheToken();
    void idTokenValidation_data();
    void idTokenValidation();

private:
    std::unique_ptr<OidcIdentityProvider> provider(const QString &clientId = "lumaret",
                                                   QString issuer = {}, bool keyringUp = true)
    {
        auto secrets = std::make_unique<OidcMemorySecretStore>(&m_secrets, keyringUp);
        return std::make_unique<OidcIdentityProvider>(
            OidcSettings{issuer.isEmpty() ? m_fixture.issuer() : issuer, clientId},
            [this](const QUrl &url) { return m_browser->open(url); }, std::move(secrets));
    }
    QString signIn(OidcIdentityProvider &provider, const QList<AuthorizationScope> &scopes,
                   std::optional<IdentityCredential> *credential = nullptr)
    {
        std::optional<AuthorizationOutcome> outcome;
        provider.performRequest({scopes}, [&](AuthorizationOutcome result) { outcome = result; });
        const auto answer = waitFor(outcome, AuthorizationOutcome(AuthorizationError{}));
        if (const auto *error = std::get_if<AuthorizationError>(&answer))
            return SignInMessages::failure(*error);
        if (credential)
            *credential = std::get<Authorization>(answer).credential;
        return {};
    }
    CredentialState credentialState(OidcIdentityProvider &provider, const QString &user)
    {
        std::optional<CredentialState> state;
        provider.credentialState(user, [&](CredentialState result) { state = result; });
        return waitFor(state, CredentialState(-1));
    }
    QString storedToken(const OidcIdentityProvider &provider) const
    {
        const auto stored = QJsonDocument::fromJson(m_secrets.value(provider.secretKey()).toUtf8());
        return stored["refreshToken"].toString();
    }

    OidcProviderFixture m_fixture;
    std::unique_ptr<OidcTestBrowser> m_browser;
    QHash<QString, QString> m_secrets;
};

void OidcProviderTest::initTestCase()
{
    if (!m_fixture.start() && m_fixture.shouldSkip())
        QSKIP(qPrintable(m_fixture.problem()));
    QVERIFY2(m_fixture.problem().isEmpty(), qPrintable(m_fixture.problem()));
}

void OidcProviderTest::init()
{
    m_browser = std::make_unique<OidcTestBrowser>();
    m_secrets.clear();
    m_fixture.setBehaviour(
        {{"consent", "grant"}, {"account", "ada"}, {"forgeJwks", false}, {"misbehave", {}}});
}

void OidcProviderTest::failedSignInsKeepWhatWasStored_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    const QString tampered = "浏览器返回的登录结果无效，可能被篡改，已中止登录。";
    const QString misconfigured = "登录服务的配置无效，无法登录。";
    const QString invalid = "登录服务返回的身份令牌无效（%1），已拒绝这次登录。";
    QTest::newRow("person refuses") << "refuse"
                                    << "登录已被拒绝或取消。";
    // Requests without this sign-in's state, another path or a forged state, get an error page
    // while the sign-in waits for the browser.
    QTest::newRow("stray requests before the browser") << "stray" << QString();
    QTest::newRow("another issuer in the redirect") << "iss" << tampered;
    QTest::newRow("code challenge of another verifier")
        << "verifier"
        << "登录服务没有接受这次登录（invalid_grant），请重新登录。";
    QTest::newRow("nonce changed on the way out") << "nonce" << invalid.arg("与本次登录不符");
    QTest::newRow("token signed by another key") << "forgeJwks" << invalid.arg("签名无法验证");
    QTest::newRow("token expired") << "expired" << invalid.arg("已过期");
    QTest::newRow("provider names another issuer") << "localhost" << misconfigured;
    QTest::newRow("plain HTTP beyond this machine") << "127.0.0.2" << misconfigured;
    QTest::newRow("plain HTTP to a name that begins as localhost")
        << "localhost.example.invalid" << misconfigured;
    // Nothing the provider answers leads a request elsewhere or into reading without end.
    const QString redirected = "登录服务要求跳转到别处，Lumaret 不跟随登录请求的跳转。";
    QTest::newRow("discovery redirected")
        << "location:/.well-known/openid-configuration" << misconfigured;
    QTest::newRow("code exchange redirected") << "location:/token" << redirected;
    QTest::newRow("user info redirected, the sign-in holds") << "location:/me" << QString();
    QTest::newRow("endless discovery document")
        << "flood:/.well-known/openid-configuration" << misconfigured;
    QTest::newRow("endless token answer") << "flood:/token"
                                          << "登录服务的回答超过 1 MiB，已拒绝读取。";
    QTest::newRow("endless key set") << "flood:/jwks"
                                     << "无法取得登录服务的签名密钥，无法验证登录。";
}

void OidcProviderTest::failedSignInsKeepWhatWasStored()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    const QString issuer = QString(m_fixture.issuer()).replace("127.0.0.1", fault);
    const bool hostIsTheFault =
        !fault.contains(':') && fault.contains(QRegularExpression("^l|\\."));
    auto signingIn = provider("lumaret", hostIsTheFault ? issuer : "");
    HostileHttpServer elsewhere({}, QHostAddress("127.0.0.2"));
    const QString path = fault.section(':', 1);
    const QJsonObject misbehave{{"path", path},
                                {fault.section(':', 0, 0), fault.startsWith("flood")
                                                               ? QJsonValue(256 << 20)
                                                               : elsewhere.url(path).toString()}};
    m_fixture.setBehaviour({{"consent", fault == "refuse" ? "deny" : "grant"},
                            {"forgeJwks", fault == "forgeJwks"},
                            {"misbehave", path.isEmpty() ? QJsonValue() : misbehave}});
    if (fault == "expired")
        signingIn->setClock([] { return QDateTime::currentDateTimeUtc().addSecs(2 * 3600); });
    int strayErrorPages = 0;
    m_browser->rewriteCallback = [fault, &strayErrorPages](const QUrl &url) {
        QNetworkAccessManager network;
        for (const char *stray : {"/", "/callback", "/callback?code=1&state=forged"}) {
            std::unique_ptr<QNetworkReply> reply(
                network.get(QNetworkRequest(url.resolved(QUrl(stray)))));
            QSignalSpy(reply.get(), &QNetworkReply::finished).wait(5000);
            strayErrorPages += reply->attribute(QNetworkRequest::HttpStatusCodeAttribute) == 400;
        }
        return fault == "iss" ? withQueryItem(url, fault, "https://forged") : url;
    };
    m_browser->rewriteAuthorization = [fault](const QUrl &url) {
        if (fault == "nonce")
            return withQueryItem(url, "nonce", "forged-nonce");
        if (fault == "verifier")
            return withQueryItem(url, "code_challenge", pkceS256Challenge(randomUrlSafeToken(32)));
        return url;
    };
    // What an earlier sign-in left in the keyring survives a failed one.
    const QHash<QString, QString> earlier{{signingIn->secretKey(), "earlier sign-in"}};
    m_secrets = earlier;
    QCOMPARE(signIn(*signingIn, {AuthorizationScope::fullName}), message);
    QCOMPARE(m_secrets == earlier, !message.isEmpty());
    QCOMPARE(strayErrorPages, m_browser->callbackUrl().isEmpty() ? 0 : 3);
    QCOMPARE(elsewhere.connectionCount, 0);
    // An endless answer is cut as it arrives, not once the network stack has read on.
    if (fault.startsWith("flood"))
        QVERIFY2(m_fixture.floodBytesSent() < 16 << 20,
                 qPrintable(QString::number(m_fixture.floodBytesSent())));
}

void OidcProviderTest::signInThenRefreshDecideWhoIsSignedIn()
{
    auto signingIn = provider("lumaret-es256");
    std::optional<IdentityCredential> ada;
    QCOMPARE(signIn(*signingIn, {AuthorizationScope::fullName, AuthorizationScope::email}, &ada),
             QString());
    QCOMPARE(ada->user, m_fixture.issuer() + "#ada");
    QCOMPARE(ada->fullName->givenName + ada->fullName->middleName + ada->fullName->familyName,
             "AdaKingLovelace");
    QCOMPARE(ada->email.value_or(QString()), QStringLiteral("ada@example.org"));
    QCOMPARE(ada->notice, IdentityCredential::Notice::none);
    const QUrlQuery request(m_browser->authorizationUrl());
    QCOMPARE(request.queryItemValue("code_challenge_method"), QStringLiteral("S256"));
    QVERIFY(request.queryItemValue("state").size() >= 43);
    QVERIFY(request.queryItemValue("nonce").size() >= 43);
    QCOMPARE(QUrl(request.queryItemValue("redirect_uri", QUrl::FullyDecoded)).host(), "127.0.0.1");
    // The redirect is taken once: the same address replayed finds nobody listening.
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> replay(network.get(QNetworkRequest(m_browser->callbackUrl())));
    QSignalSpy(replay.get(), &QNetworkReply::finished).wait(5000);
    QCOMPARE(replay->error(), QNetworkReply::ConnectionRefusedError);
    // What was not asked for is not handed over.
    QCOMPARE(signIn(*signingIn, {}, &ada), QString());
    QVERIFY(!ada->fullName && !ada->email);
    const QString firstToken = storedToken(*signingIn);
    QCOMPARE(credentialState(*signingIn, ada->user), CredentialState::authorized);
    // The provider rotates refresh tokens of public clients; the new one must be the one kept,
    // or the next launch would find the person revoked.
    QVERIFY(storedToken(*signingIn) != firstToken);
    QCOMPARE(credentialState(*signingIn, ada->user), CredentialState::authorized);
    QCOMPARE(credentialState(*signingIn, ada->user + "-else"), CredentialState::notFound);
    m_fixture.revoke(storedToken(*signingIn), "lumaret-es256");
    QCOMPARE(credentialState(*signingIn, ada->user), CredentialState::revoked);
    QVERIFY(m_secrets.isEmpty());
    // Without a keyring the sign-in holds, and says it will not outlive this launch.
    QCOMPARE(signIn(*provider("lumaret-es256", {}, false), {}, &ada), QString());
    QVERIFY(SignInMessages::notice(ada->notice).contains("密钥环"));
}

void OidcProviderTest::refreshWithoutAnAnswerKeepsTheToken_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<CredentialState>("state");
    QTest::newRow("nothing stored") << "empty" << CredentialState::notFound;
    QTest::newRow("provider unreachable") << "unreachable" << CredentialState::unreachable;
    QTest::newRow("keyring unreachable") << "keyring" << CredentialState::unreachable;
    // Only a refused grant says the person is gone; a refused client is this build's problem.
    QTest::newRow("client unknown to the provider") << "client" << CredentialState::unreachable;
}

void OidcProviderTest::refreshWithoutAnAnswerKeepsTheToken()
{
    QFETCH(QString, situation);
    QFETCH(CredentialState, state);
    QString issuer = m_fixture.issuer();
    if (situation == "unreachable") {
        QTcpServer closed; // A port that was just free is, for a moment, one nobody answers on.
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        issuer = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    }
    auto checking =
        provider(situation == "client" ? "stranger" : "lumaret", issuer, situation != "keyring");
    const QString stored = QStringLiteral(R"({"user":"%1#ada","refreshToken":"kept"})").arg(issuer);
    if (situation != "empty")
        m_secrets.insert(checking->secretKey(), stored);
    QCOMPARE(credentialState(*checking, issuer + "#ada"), state);
    QCOMPARE(m_secrets.value(checking->secretKey()) == stored, situation != "empty");
}

void OidcProviderTest::idTokenValidation_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonObject>("header");
    QTest::addColumn<QJsonObject>("claims");
    QTest::addColumn<QString>("alteration");
    QTest::addColumn<int>("fault");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QJsonObject rsa{{"alg", "RS256"}, {"kid", "signing-rsa"}};
    const QJsonObject good{{"iss", m_fixture.issuer()},
                           {"aud", "lumaret"},
                           {"sub", "ada"},
                           {"nonce", "nonce-1"},
                           {"exp", now + 600}};
    const QJsonArray audiences{"lumaret", "someone-else"};
    auto row = [](const char *name, const QJsonObject &header, const QJsonObject &claims,
                  std::optional<IdTokenFault> fault, const QString &key = "signing-rsa",
                  const QString &alteration = {}) {
        QTest::newRow(name) << key << header << claims << alteration << (fault ? int(*fault) : -1);
    };
    using F = IdTokenFault;
    row("RS256", rsa, good, {});
    row("ES256", {{"alg", "ES256"}, {"kid", "signing-ec"}}, good, {}, "signing-ec");
    row("impostor key with the real key id", rsa, good, F::badSignature, "impostor-signing-rsa");
    row("claims changed after signing", rsa, good, F::badSignature, "signing-rsa", "payload");
    row("unsigned", rsa, good, F::unsupportedAlgorithm, "signing-rsa", "none");
    row("HMAC", with(rsa, "alg", "HS256"), good, F::unsupportedAlgorithm);
    row("critical header", with(rsa, "crit", QJsonArray{"exp"}), good, F::unsupportedAlgorithm);
    row("unknown key id", with(rsa, "kid", "retired"), good, F::noMatchingKey);
    row("RSA key of 1024 bits", with(rsa, "kid", "weak-rsa"), good, F::noMatchingKey, "weak-rsa");
    row("key meant for another algorithm", rsa, good, F::noMatchingKey, "signing-rsa", "keyAlg");
    row("key meant for encryption", rsa, good, F::noMatchingKey, "signing-rsa", "keyUse");
    row("another issuer", rsa, with(good, "iss", "https://evil.example"), F::wrongIssuer);
    row("issuer with a trailing slash", rsa, with(good, "iss", m_fixture.issuer() + "/"),
        F::wrongIssuer);
    row("another audience", rsa, with(good, "aud", "someone-else"), F::wrongAudience);
    row("several audiences, no authorised party", rsa, with(good, "aud", audiences),
        F::wrongAudience);
    row("several audiences, issued to this client", rsa,
        with(with(good, "aud", audiences), "azp", "lumaret"), {});
    row("issued to another party", rsa, with(good, "azp", "someone-else"), F::wrongAudience);
    row("expired two minutes ago", rsa, with(good, "exp", now - 120), F::expired);
    row("expired within the clock leeway", rsa, with(good, "exp", now - 30), {});
    row("no expiry", rsa, with(good, "exp", QJsonValue()), F::expired);
    row("another nonce", rsa, with(good, "nonce", "nonce-2"), F::wrongNonce);
    row("no subject", rsa, with(good, "sub", ""), F::missingSubject);
}

void OidcProviderTest::idTokenValidation()
{
    QFETCH(QString, key);
    QFETCH(QJsonObject, header);
    QFETCH(QJsonObject, claims);
    QFETCH(QString, alteration);
    QFETCH(int, fault);
    QList<QByteArray> parts = m_fixture.signToken(key, header, claims).split('.');
    QCOMPARE(parts.size(), 3);
    const auto encode = [](const QJsonObject &object) {
        return QJsonDocument(object)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    };
    if (alteration == "payload")
        parts[1] = encode(with(claims, "sub", "mallory"));
    if (alteration == "none")
        parts = {encode({{"alg", "none"}}), parts[1], {}};
    QJsonArray keys = m_fixture.publishedKeys()["keys"].toArray();
    for (auto jwk = keys.begin(); jwk != keys.end() && alteration.startsWith("key"); ++jwk) {
        const bool isRsa = jwk->toObject()["kty"].toString() == "RSA";
        *jwk = alteration == "keyUse" ? with(jwk->toObject(), "use", "enc")
                                      : with(jwk->toObject(), "alg", isRsa ? "RS512" : "ES384");
    }
    const IdTokenExpectations expected{m_fixture.issuer(), "lumaret", QStringLiteral("nonce-1"),
                                       QDateTime::currentDateTimeUtc(), 60s};
    const IdTokenVerdict verdict = validateIdToken(parts.join('.'), {{"keys", keys}}, expected);
    const auto *faultFound = std::get_if<IdTokenFault>(&verdict);
    QCOMPARE(faultFound ? int(*faultFound) : -1, fault);
    if (!faultFound)
        QCOMPARE(std::get<QJsonObject>(verdict)["sub"], QJsonValue("ada"));
}

QTEST_GUILESS_MAIN(OidcProviderTest)
#include "tst_oidcprovider.moc"
