#include "OidcProviderFixture.h"
#include "identity/OidcIdToken.h"
#include "identity/OidcIdentityProvider.h"
#include "identity/OidcLoopbackListener.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(QList<AuthorizationScope>)
Q_DECLARE_METATYPE(std::optional<PersonNameComponents>)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

constexpr int waitLimitMs = 20000;

const QList<AuthorizationScope> nameAndEmail{AuthorizationScope::fullName,
                                             AuthorizationScope::email};

QUrl withQueryItem(const QUrl &url, const QString &name, const QString &value)
{
    QUrlQuery query(url);
    query.removeAllQueryItems(name);
    query.addQueryItem(name, value);
    QUrl changed = url;
    changed.setQuery(query);
    return changed;
}

QString errorText(const AuthorizationOutcome &outcome)
{
    const auto *error = std::get_if<AuthorizationError>(&outcome);
    return error ? error->localizedDescription : QString();
}

// Asks for the HTTP answer at a URL and tells whether a connection could be made at all.
bool connectionRefused(const QUrl &url)
{
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(5000);
    const bool refused = reply->error() == QNetworkReply::ConnectionRefusedError;
    delete reply;
    return refused;
}

} // namespace

class OidcProviderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void signInHandsOverTheValidatedPerson_data();
    void signInHandsOverTheValidatedPerson();
    void laterSignInWithoutScopesCarriesNoName();
    void failedSignInsKeepWhatWasStored_data();
    void failedSignInsKeepWhatWasStored();
    void signInGivesUpWhenTheBrowserNeverReturns();
    void newSignInEndsTheOneWaiting();

    void credentialStateFollowsTheStoredRefresh();
    void credentialStateWithoutAnswer_data();
    void credentialStateWithoutAnswer();

    void idTokenValidation_data();
    void idTokenValidation();

    void listenerTakesOneRequestOnLoopbackOnly();

private:
    std::unique_ptr<OidcIdentityProvider>
    makeProvider(OidcTestBrowser *browser, const QString &clientId = QStringLiteral("lumaret"),
                 const QString &issuer = QString());
    AuthorizationOutcome signIn(OidcIdentityProvider &provider,
                                const QList<AuthorizationScope> &scopes);
    CredentialState credentialState(OidcIdentityProvider &provider, const QString &user);
    QJsonObject storedRefresh(const OidcIdentityProvider &provider) const;

    OidcProviderFixture m_fixture;
    QHash<QString, QString> m_secrets;
    bool m_secretsReachable = true;
};

void OidcProviderTest::initTestCase()
{
    if (!m_fixture.start()) {
        if (m_fixture.shouldSkip())
            QSKIP(qPrintable(m_fixture.problem()));
        QFAIL(qPrintable(m_fixture.problem()));
    }
}

void OidcProviderTest::init()
{
    m_secrets.clear();
    m_secretsReachable = true;
    m_fixture.setBehaviour({{QStringLiteral("consent"), QStringLiteral("grant")},
                            {QStringLiteral("account"), QStringLiteral("ada")},
                            {QStringLiteral("forgeJwks"), false}});
}

std::unique_ptr<OidcIdentityProvider> OidcProviderTest::makeProvider(OidcTestBrowser *browser,
                                                                     const QString &clientId,
                                                                     const QString &issuer)
{
    OidcSettings settings;
    settings.issuer = issuer.isEmpty() ? m_fixture.issuer() : issuer;
    settings.clientId = clientId;
    settings.redirectTimeLimit = 15s;
    auto secrets = std::make_unique<OidcMemorySecretStore>(&m_secrets);
    secrets->reachable = m_secretsReachable;
    return std::make_unique<OidcIdentityProvider>(
        settings, [browser](const QUrl &url) { return browser->open(url); }, std::move(secrets));
}

AuthorizationOutcome OidcProviderTest::signIn(OidcIdentityProvider &provider,
                                              const QList<AuthorizationScope> &scopes)
{
    std::optional<AuthorizationOutcome> outcome;
    int completions = 0;
    provider.performRequest({scopes}, [&](AuthorizationOutcome result) {
        outcome = std::move(result);
        ++completions;
    });
    if (!QTest::qWaitFor([&] { return outcome.has_value(); }, waitLimitMs))
        return AuthorizationError{QStringLiteral("(no answer)")};
    QTest::qWait(50);
    if (completions != 1)
        return AuthorizationError{QStringLiteral("(answered %1 times)").arg(completions)};
    return *outcome;
}

CredentialState OidcProviderTest::credentialState(OidcIdentityProvider &provider,
                                                  const QString &user)
{
    std::optional<CredentialState> state;
    provider.credentialState(user, [&](CredentialState result) { state = result; });
    if (!QTest::qWaitFor([&] { return state.has_value(); }, waitLimitMs))
        return CredentialState(-1);
    return *state;
}

QJsonObject OidcProviderTest::storedRefresh(const OidcIdentityProvider &provider) const
{
    return QJsonDocument::fromJson(m_secrets.value(provider.secretKey()).toUtf8()).object();
}

void OidcProviderTest::signInHandsOverTheValidatedPerson_data()
{
    QTest::addColumn<QString>("clientId");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QList<AuthorizationScope>>("scopes");
    QTest::addColumn<std::optional<PersonNameComponents>>("fullName");
    QTest::addColumn<std::optional<QString>>("email");

    PersonNameComponents ada;
    ada.givenName = QStringLiteral("Ada");
    ada.middleName = QStringLiteral("King");
    ada.familyName = QStringLiteral("Lovelace");
    ada.nickname = QStringLiteral("Ada");
    const std::optional<QString> adaEmail = QStringLiteral("ada@example.org");

    QTest::newRow("name and e-mail, RS256") << QStringLiteral("lumaret") << QStringLiteral("ada")
                                            << nameAndEmail << std::optional(ada) << adaEmail;
    QTest::newRow("name and e-mail, ES256")
        << QStringLiteral("lumaret-es256") << QStringLiteral("ada") << nameAndEmail
        << std::optional(ada) << adaEmail;
    QTest::newRow("only the e-mail asked for")
        << QStringLiteral("lumaret") << QStringLiteral("ada")
        << QList<AuthorizationScope>{AuthorizationScope::email}
        << std::optional<PersonNameComponents>() << adaEmail;
    QTest::newRow("nothing asked for")
        << QStringLiteral("lumaret") << QStringLiteral("ada") << QList<AuthorizationScope>()
        << std::optional<PersonNameComponents>() << std::optional<QString>();
    QTest::newRow("account without name or e-mail")
        << QStringLiteral("lumaret") << QStringLiteral("anonymous") << nameAndEmail
        << std::optional<PersonNameComponents>() << std::optional<QString>();
}

void OidcProviderTest::signInHandsOverTheValidatedPerson()
{
    QFETCH(QString, clientId);
    QFETCH(QString, account);
    QFETCH(QList<AuthorizationScope>, scopes);
    QFETCH(std::optional<PersonNameComponents>, fullName);
    QFETCH(std::optional<QString>, email);
    m_fixture.setBehaviour({{QStringLiteral("account"), account}});
    OidcTestBrowser browser;
    auto provider = makeProvider(&browser, clientId);

    const AuthorizationOutcome outcome = signIn(*provider, scopes);

    QCOMPARE(errorText(outcome), QString());
    const auto credential = std::get<Authorization>(outcome).credential;
    QVERIFY(credential);
    QCOMPARE(credential->user, m_fixture.issuer() + QLatin1Char('#') + account);
    QCOMPARE(credential->fullName, fullName);
    QCOMPARE(credential->email, email);

    const QUrlQuery request(browser.authorizationUrl());
    QCOMPARE(request.queryItemValue(QStringLiteral("code_challenge_method")),
             QStringLiteral("S256"));
    QVERIFY(request.queryItemValue(QStringLiteral("state")).size() >= 43);
    QVERIFY(request.queryItemValue(QStringLiteral("nonce")).size() >= 43);
    QCOMPARE(
        QUrl(request.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded)).host(),
        QStringLiteral("127.0.0.1"));

    QCOMPARE(storedRefresh(*provider).value(QStringLiteral("user")).toString(), credential->user);
    QVERIFY(!storedRefresh(*provider).value(QStringLiteral("refreshToken")).toString().isEmpty());

    QTRY_VERIFY(browser.finished());
    QVERIFY(browser.callbackPage().contains(QStringLiteral("登录成功")));
    // The redirect is taken once: the same address replayed finds nobody listening.
    QVERIFY(connectionRefused(browser.callbackUrl()));
}

void OidcProviderTest::laterSignInWithoutScopesCarriesNoName()
{
    OidcTestBrowser browser;
    auto provider = makeProvider(&browser);

    const AuthorizationOutcome first = signIn(*provider, nameAndEmail);
    const AuthorizationOutcome second = signIn(*provider, {});

    QCOMPARE(errorText(first), QString());
    QCOMPARE(errorText(second), QString());
    const auto firstCredential = std::get<Authorization>(first).credential;
    const auto secondCredential = std::get<Authorization>(second).credential;
    QVERIFY(firstCredential->fullName);
    QCOMPARE(secondCredential->user, firstCredential->user);
    QVERIFY(!secondCredential->fullName);
    QVERIFY(!secondCredential->email);
}

void OidcProviderTest::failedSignInsKeepWhatWasStored_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");

    QTest::newRow("person refuses")
        << QStringLiteral("refuse") << QStringLiteral("登录已被拒绝或取消。");
    QTest::newRow("state changed on the way back")
        << QStringLiteral("state")
        << QStringLiteral("浏览器返回的登录结果无效，可能被篡改，已中止登录。");
    QTest::newRow("code challenge of another verifier")
        << QStringLiteral("verifier")
        << QStringLiteral("登录服务没有接受这次登录（invalid_grant），请重新登录。");
    QTest::newRow("nonce changed on the way out")
        << QStringLiteral("nonce")
        << QStringLiteral("登录服务返回的身份令牌无效（与本次登录不符），已拒绝这次登录。");
    QTest::newRow("token signed by another key")
        << QStringLiteral("foreignKey")
        << QStringLiteral("登录服务返回的身份令牌无效（签名无法验证），已拒绝这次登录。");
    QTest::newRow("token expired")
        << QStringLiteral("expired")
        << QStringLiteral("登录服务返回的身份令牌无效（已过期），已拒绝这次登录。");
}

void OidcProviderTest::failedSignInsKeepWhatWasStored()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    OidcTestBrowser browser;
    auto provider = makeProvider(&browser);
    if (fault == QLatin1StringView("refuse"))
        m_fixture.setBehaviour({{QStringLiteral("consent"), QStringLiteral("deny")}});
    if (fault == QLatin1StringView("foreignKey"))
        m_fixture.setBehaviour({{QStringLiteral("forgeJwks"), true}});
    if (fault == QLatin1StringView("expired"))
        provider->setClock([] { return QDateTime::currentDateTimeUtc().addSecs(2 * 3600); });
    if (fault == QLatin1StringView("state")) {
        browser.rewriteCallback = [](const QUrl &url) {
            return withQueryItem(url, QStringLiteral("state"), QStringLiteral("forged-state"));
        };
    }
    if (fault == QLatin1StringView("verifier")) {
        browser.rewriteAuthorization = [](const QUrl &url) {
            const QByteArray otherVerifier = randomUrlSafeToken(32);
            return withQueryItem(url, QStringLiteral("code_challenge"),
                                 QString::fromLatin1(pkceS256Challenge(otherVerifier)));
        };
    }
    if (fault == QLatin1StringView("nonce")) {
        browser.rewriteAuthorization = [](const QUrl &url) {
            return withQueryItem(url, QStringLiteral("nonce"), QStringLiteral("forged-nonce"));
        };
    }

    // What an earlier sign-in left in the keyring survives a failed one.
    const QString earlier = QStringLiteral(R"({"user":"earlier","refreshToken":"earlier-token"})");
    m_secrets.insert(provider->secretKey(), earlier);

    const AuthorizationOutcome outcome = signIn(*provider, nameAndEmail);

    QCOMPARE(errorText(outcome), message);
    QCOMPARE(m_secrets.value(provider->secretKey()), earlier);
    QCOMPARE(m_secrets.size(), 1);
    QTRY_VERIFY(browser.finished());
    QVERIFY(browser.callbackPage().contains(QStringLiteral("登录未完成")));
}

void OidcProviderTest::signInGivesUpWhenTheBrowserNeverReturns()
{
    OidcSettings settings;
    settings.issuer = m_fixture.issuer();
    settings.clientId = QStringLiteral("lumaret");
    settings.redirectTimeLimit = 300ms;
    QUrl redirect;
    OidcIdentityProvider provider(
        settings,
        [&redirect](const QUrl &url) {
            redirect = QUrl(
                QUrlQuery(url).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
            return true;
        },
        std::make_unique<OidcMemorySecretStore>(&m_secrets));

    const AuthorizationOutcome outcome = signIn(provider, nameAndEmail);

    QCOMPARE(errorText(outcome),
             QStringLiteral("登录超时：没有在限定时间内从浏览器收到登录结果。"));
    QVERIFY(connectionRefused(redirect));
}

void OidcProviderTest::newSignInEndsTheOneWaiting()
{
    OidcSettings settings;
    settings.issuer = m_fixture.issuer();
    settings.clientId = QStringLiteral("lumaret");
    int opened = 0;
    OidcIdentityProvider provider(
        settings, [&opened](const QUrl &) { return ++opened > 0; },
        std::make_unique<OidcMemorySecretStore>(&m_secrets));
    QList<QString> first;
    provider.performRequest(
        {}, [&first](AuthorizationOutcome outcome) { first.append(errorText(outcome)); });
    QTRY_COMPARE(opened, 1);

    provider.performRequest({}, [](AuthorizationOutcome) {});

    QCOMPARE(first, QList<QString>{QStringLiteral("登录已被新的登录取代。")});
}

void OidcProviderTest::credentialStateFollowsTheStoredRefresh()
{
    OidcTestBrowser browser;
    auto provider = makeProvider(&browser);
    const AuthorizationOutcome outcome = signIn(*provider, nameAndEmail);
    QCOMPARE(errorText(outcome), QString());
    const QString user = std::get<Authorization>(outcome).credential->user;
    const QString firstToken =
        storedRefresh(*provider).value(QStringLiteral("refreshToken")).toString();

    QCOMPARE(credentialState(*provider, user), CredentialState::authorized);
    // The provider rotates refresh tokens of public clients; the new one must be the one kept,
    // or the next launch would find the person revoked.
    const QString rotatedToken =
        storedRefresh(*provider).value(QStringLiteral("refreshToken")).toString();
    QVERIFY(rotatedToken != firstToken);
    QCOMPARE(credentialState(*provider, user), CredentialState::authorized);
    QCOMPARE(credentialState(*provider, user + QStringLiteral("-someone-else")),
             CredentialState::notFound);

    m_fixture.revoke(storedRefresh(*provider).value(QStringLiteral("refreshToken")).toString(),
                     QStringLiteral("lumaret"));

    QCOMPARE(credentialState(*provider, user), CredentialState::revoked);
    QVERIFY(m_secrets.isEmpty());
    QCOMPARE(credentialState(*provider, user), CredentialState::notFound);
}

void OidcProviderTest::credentialStateWithoutAnswer_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<CredentialState>("state");
    QTest::addColumn<bool>("keepsToken");

    QTest::newRow("nothing stored")
        << QStringLiteral("empty") << CredentialState::notFound << false;
    QTest::newRow("provider unreachable")
        << QStringLiteral("unreachable") << CredentialState::transferred << true;
    QTest::newRow("keyring unreachable")
        << QStringLiteral("keyring") << CredentialState::transferred << true;
}

void OidcProviderTest::credentialStateWithoutAnswer()
{
    QFETCH(QString, situation);
    QFETCH(CredentialState, state);
    QFETCH(bool, keepsToken);
    QString issuer = m_fixture.issuer();
    if (situation == QLatin1StringView("unreachable")) {
        // A port that was just free is, for a moment, a port nobody answers on.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        issuer = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    }
    m_secretsReachable = situation != QLatin1StringView("keyring");
    OidcTestBrowser browser;
    auto provider = makeProvider(&browser, QStringLiteral("lumaret"), issuer);
    const QString user = issuer + QStringLiteral("#ada");
    const QString stored = QStringLiteral(R"({"user":"%1","refreshToken":"kept"})").arg(user);
    if (situation != QLatin1StringView("empty"))
        m_secrets.insert(provider->secretKey(), stored);

    QCOMPARE(credentialState(*provider, user), state);
    QCOMPARE(m_secrets.value(provider->secretKey()) == stored, keepsToken);
}

void OidcProviderTest::idTokenValidation_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonObject>("header");
    QTest::addColumn<QJsonObject>("claims");
    QTest::addColumn<QString>("alteration");
    QTest::addColumn<int>("fault");

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString issuer = m_fixture.issuer();
    const QJsonObject rsa{{QStringLiteral("alg"), QStringLiteral("RS256")},
                          {QStringLiteral("kid"), QStringLiteral("signing-rsa")}};
    const QJsonObject ec{{QStringLiteral("alg"), QStringLiteral("ES256")},
                         {QStringLiteral("kid"), QStringLiteral("signing-ec")}};
    const QJsonObject good{{QStringLiteral("iss"), issuer},
                           {QStringLiteral("aud"), QStringLiteral("lumaret")},
                           {QStringLiteral("sub"), QStringLiteral("ada")},
                           {QStringLiteral("nonce"), QStringLiteral("nonce-1")},
                           {QStringLiteral("iat"), now},
                           {QStringLiteral("exp"), now + 600}};
    auto with = [](QJsonObject object, const QString &name, const QJsonValue &value) {
        object.insert(name, value);
        return object;
    };
    const int valid = -1;
    const QString rsaKey = QStringLiteral("signing-rsa");
    auto fault = [](IdTokenFault f) { return int(f); };

    QTest::newRow("RS256") << rsaKey << rsa << good << QString() << valid;
    QTest::newRow("ES256") << QStringLiteral("signing-ec") << ec << good << QString() << valid;
    QTest::newRow("no key id") << rsaKey
                               << QJsonObject{{QStringLiteral("alg"), QStringLiteral("RS256")}}
                               << good << QString() << valid;
    QTest::newRow("impostor key with the real key id")
        << QStringLiteral("impostor-signing-rsa") << rsa << good << QString()
        << fault(IdTokenFault::badSignature);
    QTest::newRow("impostor EC key") << QStringLiteral("impostor-signing-ec") << ec << good
                                     << QString() << fault(IdTokenFault::badSignature);
    QTest::newRow("claims changed after signing")
        << rsaKey << rsa << good << QStringLiteral("payload") << fault(IdTokenFault::badSignature);
    QTest::newRow("unsigned") << rsaKey << rsa << good << QStringLiteral("none")
                              << fault(IdTokenFault::unsupportedAlgorithm);
    QTest::newRow("HMAC") << rsaKey << with(rsa, QStringLiteral("alg"), QStringLiteral("HS256"))
                          << good << QString() << fault(IdTokenFault::unsupportedAlgorithm);
    QTest::newRow("unknown key id")
        << rsaKey << with(rsa, QStringLiteral("kid"), QStringLiteral("retired")) << good
        << QString() << fault(IdTokenFault::noMatchingKey);
    QTest::newRow("RSA algorithm naming the EC key")
        << rsaKey << with(rsa, QStringLiteral("kid"), QStringLiteral("signing-ec")) << good
        << QString() << fault(IdTokenFault::noMatchingKey);
    QTest::newRow("another issuer")
        << rsaKey << rsa
        << with(good, QStringLiteral("iss"), QStringLiteral("https://evil.example")) << QString()
        << fault(IdTokenFault::wrongIssuer);
    QTest::newRow("another audience")
        << rsaKey << rsa << with(good, QStringLiteral("aud"), QStringLiteral("someone-else"))
        << QString() << fault(IdTokenFault::wrongAudience);
    const QJsonArray audiences{QStringLiteral("lumaret"), QStringLiteral("someone-else")};
    QTest::newRow("several audiences without authorised party")
        << rsaKey << rsa << with(good, QStringLiteral("aud"), audiences) << QString()
        << fault(IdTokenFault::wrongAudience);
    QTest::newRow("several audiences, issued to this client")
        << rsaKey << rsa
        << with(with(good, QStringLiteral("aud"), audiences), QStringLiteral("azp"),
                QStringLiteral("lumaret"))
        << QString() << valid;
    QTest::newRow("issued to another party")
        << rsaKey << rsa << with(good, QStringLiteral("azp"), QStringLiteral("someone-else"))
        << QString() << fault(IdTokenFault::wrongAudience);
    QTest::newRow("expired two minutes ago")
        << rsaKey << rsa << with(good, QStringLiteral("exp"), now - 120) << QString()
        << fault(IdTokenFault::expired);
    QTest::newRow("expired within the clock leeway")
        << rsaKey << rsa << with(good, QStringLiteral("exp"), now - 30) << QString() << valid;
    QTest::newRow("no expiry") << rsaKey << rsa << with(good, QStringLiteral("exp"), QJsonValue())
                               << QString() << fault(IdTokenFault::expired);
    QTest::newRow("another nonce")
        << rsaKey << rsa << with(good, QStringLiteral("nonce"), QStringLiteral("nonce-2"))
        << QString() << fault(IdTokenFault::wrongNonce);
    QTest::newRow("no subject") << rsaKey << rsa << with(good, QStringLiteral("sub"), QString())
                                << QString() << fault(IdTokenFault::missingSubject);
}

void OidcProviderTest::idTokenValidation()
{
    QFETCH(QString, key);
    QFETCH(QJsonObject, header);
    QFETCH(QJsonObject, claims);
    QFETCH(QString, alteration);
    QFETCH(int, fault);
    QByteArray token = m_fixture.signToken(key, header, claims);
    QCOMPARE(token.count('.'), 2);
    QList<QByteArray> parts = token.split('.');
    const auto encode = [](const QJsonObject &object) {
        return QJsonDocument(object)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    };
    if (alteration == QLatin1StringView("payload")) {
        claims.insert(QStringLiteral("sub"), QStringLiteral("mallory"));
        parts[1] = encode(claims);
    } else if (alteration == QLatin1StringView("none")) {
        parts[0] = encode({{QStringLiteral("alg"), QStringLiteral("none")}});
        parts[2].clear();
    }
    token = parts.join('.');
    const IdTokenExpectations expectations{m_fixture.issuer(), QStringLiteral("lumaret"),
                                           QStringLiteral("nonce-1"),
                                           QDateTime::currentDateTimeUtc(), 60s};

    const IdTokenVerdict verdict = validateIdToken(token, m_fixture.publishedKeys(), expectations);

    if (fault < 0) {
        QVERIFY(std::holds_alternative<QJsonObject>(verdict));
        QCOMPARE(std::get<QJsonObject>(verdict).value(QStringLiteral("sub")).toString(),
                 QStringLiteral("ada"));
    } else {
        QVERIFY(std::holds_alternative<IdTokenFault>(verdict));
        QCOMPARE(int(std::get<IdTokenFault>(verdict)), fault);
    }
}

void OidcProviderTest::listenerTakesOneRequestOnLoopbackOnly()
{
    OidcLoopbackListener listener(10s);
    QVERIFY(listener.listen());
    QSignalSpy received(&listener, &OidcLoopbackListener::requestReceived);
    const quint16 port = quint16(listener.redirectUri().port());
    QVERIFY(port > 0);

    // Loopback addresses other than 127.0.0.1 reach this machine too, but not the listener.
    for (const QHostAddress &address :
         {QHostAddress(QStringLiteral("127.0.0.2")), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        QTcpSocket stranger;
        stranger.connectToHost(address, port);
        QVERIFY2(!stranger.waitForConnected(2000), qPrintable(address.toString()));
    }

    QTcpSocket idle;
    idle.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(idle.waitForConnected(2000));
    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(browser.waitForConnected(2000));
    browser.write("GET /callback?code=abc&state=xyz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.first().first().toUrl(),
             QUrl(QStringLiteral("http://127.0.0.1:%1/callback?code=abc&state=xyz").arg(port)));

    listener.answer(QStringLiteral("登录成功"), QStringLiteral("可以关闭此页面。"));
    QTRY_COMPARE(browser.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(browser.readAll().startsWith("HTTP/1.1 200 OK"));

    // The connection that was open but had not asked is dropped unanswered, and nobody listens
    // any more for a second request.
    idle.write("GET /callback?code=second HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(idle.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(idle.readAll(), QByteArray());
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(2000));
    QCOMPARE(received.size(), 1);
}

QTEST_GUILESS_MAIN(OidcProviderTest)
#include "tst_oidcprovider.moc"
