#include "FakeSettings.h"
#include "ScriptedIdentityProvider.h"
#include "services/AppleIDAuthService.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <thread>

using SignInState = AppleIDAuthService::SignInState;
Q_DECLARE_METATYPE(SignInState)
Q_DECLARE_METATYPE(std::optional<CredentialState>)

namespace {

const QString userKey = AppleIDAuthService::userIdentifierKey();
const QString nameKey = AppleIDAuthService::displayNameKey();

IdentityCredential credential(const QString &user, std::optional<PersonNameComponents> name,
                              std::optional<QString> email)
{
    return IdentityCredential{user, std::move(name), std::move(email)};
}

PersonNameComponents name(const QString &given, const QString &family)
{
    PersonNameComponents components;
    components.givenName = given;
    components.familyName = family;
    return components;
}

} // namespace

class AppleIDAuthTest : public QObject
{
    Q_OBJECT

private slots:
    void launchAsksOnceAndFollowsTheAnswer_data();
    void launchAsksOnceAndFollowsTheAnswer();
    void signInOutcomes_data();
    void signInOutcomes();
    void failedSignInKeepsTheRememberedUser();
    void signOutForgetsTheUser();
    void signInAsksForFullNameThenEmail();
    void answerFromAnotherThreadIsAppliedOnTheMainThread();
    void answerAfterTheServiceIsGoneIsDropped();
    void lateLaunchAnswerLeavesANewSignInAlone();
    void formatsNamesByScript_data();
    void formatsNamesByScript();
};

void AppleIDAuthTest::launchAsksOnceAndFollowsTheAnswer_data()
{
    QTest::addColumn<QString>("storedUser");
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<std::optional<CredentialState>>("answer");
    QTest::addColumn<SignInState>("expected");
    QTest::addColumn<bool>("keysKept");

    QTest::newRow("first launch") << QString() << QString() << std::optional<CredentialState>()
                                  << SignInState::signedOut() << false;
    QTest::newRow("authorised with a name")
        << QStringLiteral("user-1") << QStringLiteral("林晓")
        << std::optional(CredentialState::authorized)
        << SignInState::signedIn(QStringLiteral("林晓")) << true;
    QTest::newRow("authorised without a name")
        << QStringLiteral("user-1") << QString() << std::optional(CredentialState::authorized)
        << SignInState::signedIn(QStringLiteral("Apple ID")) << true;
    QTest::newRow("revoked") << QStringLiteral("user-1") << QStringLiteral("林晓")
                             << std::optional(CredentialState::revoked) << SignInState::signedOut()
                             << false;
    QTest::newRow("not found") << QStringLiteral("user-1") << QStringLiteral("林晓")
                               << std::optional(CredentialState::notFound)
                               << SignInState::signedOut() << false;
    QTest::newRow("transferred") << QStringLiteral("user-1") << QStringLiteral("林晓")
                                 << std::optional(CredentialState::transferred)
                                 << SignInState::signedOut() << true;
    QTest::newRow("unknown answer")
        << QStringLiteral("user-1") << QStringLiteral("林晓") << std::optional(CredentialState(7))
        << SignInState::signedOut() << true;
}

void AppleIDAuthTest::launchAsksOnceAndFollowsTheAnswer()
{
    QFETCH(QString, storedUser);
    QFETCH(QString, storedName);
    QFETCH(std::optional<CredentialState>, answer);
    QFETCH(SignInState, expected);
    QFETCH(bool, keysKept);

    FakeSettings settings;
    if (!storedUser.isEmpty())
        settings.open()->setValue(userKey, storedUser);
    if (!storedName.isEmpty())
        settings.open()->setValue(nameKey, storedName);
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->credentialAnswer = answer;

    AppleIDAuthService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    // Even an answer given from inside the call is applied only after the constructor returns.
    QCOMPARE(service.state(),
             storedUser.isEmpty() ? SignInState::signedOut() : SignInState::checking());
    QCOMPARE(script->askedUsers, storedUser.isEmpty() ? QStringList() : QStringList{storedUser});

    QTRY_COMPARE(service.state(), expected);
    const auto stored = settings.open();
    if (!storedUser.isEmpty()) {
        QCOMPARE(stored->contains(userKey), keysKept);
        QCOMPARE(stored->contains(nameKey), keysKept && !storedName.isEmpty());
    }
    QCOMPARE(script->askedUsers.size(), storedUser.isEmpty() ? 0 : 1);
}

void AppleIDAuthTest::signInOutcomes_data()
{
    QTest::addColumn<AuthorizationOutcome>("outcome");
    QTest::addColumn<SignInState>("expected");
    QTest::addColumn<QString>("storedUser");
    QTest::addColumn<QString>("storedName");

    // Every row starts with "old-user" / "旧名字" remembered.
    QTest::newRow("cancelled") << AuthorizationOutcome(
                                      AuthorizationError{QStringLiteral("操作已取消。")})
                               << SignInState::failed(QStringLiteral("操作已取消。"))
                               << QStringLiteral("old-user") << QStringLiteral("旧名字");
    QTest::newRow("not an identity credential")
        << AuthorizationOutcome(Authorization{})
        << SignInState::failed(QStringLiteral("无法读取 Apple ID 凭证"))
        << QStringLiteral("old-user") << QStringLiteral("旧名字");
    QTest::newRow("full name") << AuthorizationOutcome(Authorization{credential(
                                      QStringLiteral("u2"),
                                      name(QStringLiteral("Ada"), QStringLiteral("Lovelace")),
                                      QStringLiteral("ada@example.org"))})
                               << SignInState::signedIn(QStringLiteral("Ada Lovelace"))
                               << QStringLiteral("u2") << QStringLiteral("Ada Lovelace");
    QTest::newRow("chinese name") << AuthorizationOutcome(Authorization{credential(
                                         QStringLiteral("u2"),
                                         name(QStringLiteral("晓"), QStringLiteral("林")),
                                         std::nullopt)})
                                  << SignInState::signedIn(QStringLiteral("林晓"))
                                  << QStringLiteral("u2") << QStringLiteral("林晓");
    QTest::newRow("empty name, e-mail")
        << AuthorizationOutcome(Authorization{credential(
               QStringLiteral("u2"), PersonNameComponents(), QStringLiteral("a@example.org"))})
        << SignInState::signedIn(QStringLiteral("a@example.org")) << QStringLiteral("u2")
        << QStringLiteral("a@example.org");
    QTest::newRow("empty name, empty e-mail")
        << AuthorizationOutcome(
               Authorization{credential(QStringLiteral("u2"), PersonNameComponents(), QString())})
        << SignInState::signedIn(QStringLiteral("Apple ID")) << QStringLiteral("u2")
        << QStringLiteral("Apple ID");
    QTest::newRow("later sign-in without name or e-mail")
        << AuthorizationOutcome(
               Authorization{credential(QStringLiteral("old-user"), std::nullopt, std::nullopt)})
        << SignInState::signedIn(QStringLiteral("Apple ID")) << QStringLiteral("old-user")
        << QStringLiteral("Apple ID");
    QTest::newRow("blank name is not trimmed")
        << AuthorizationOutcome(
               Authorization{credential(QStringLiteral("u2"), std::nullopt, QStringLiteral(" "))})
        << SignInState::signedIn(QStringLiteral(" ")) << QStringLiteral("u2")
        << QStringLiteral(" ");
}

void AppleIDAuthTest::signInOutcomes()
{
    QFETCH(AuthorizationOutcome, outcome);
    QFETCH(SignInState, expected);
    QFETCH(QString, storedUser);
    QFETCH(QString, storedName);

    FakeSettings settings;
    settings.open()->setValue(userKey, QStringLiteral("old-user"));
    settings.open()->setValue(nameKey, QStringLiteral("旧名字"));
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->credentialAnswer = CredentialState::authorized;
    AppleIDAuthService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    QTRY_COMPARE(service.state(), SignInState::signedIn(QStringLiteral("旧名字")));

    service.handle(outcome);
    QCOMPARE(service.state(), expected);
    const auto stored = settings.open();
    QCOMPARE(stored->value(userKey).toString(), storedUser);
    QCOMPARE(stored->value(nameKey).toString(), storedName);
}

void AppleIDAuthTest::failedSignInKeepsTheRememberedUser()
{
    // A failure while the launch check is still out leaves the user for the next launch.
    FakeSettings settings;
    settings.open()->setValue(userKey, QStringLiteral("old-user"));
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->requestAnswer = AuthorizationError{QStringLiteral("网络不可用")};
    AppleIDAuthService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    service.signIn();
    QTRY_COMPARE(service.state(), SignInState::failed(QStringLiteral("网络不可用")));
    QCOMPARE(settings.open()->value(userKey).toString(), QStringLiteral("old-user"));
}

void AppleIDAuthTest::signOutForgetsTheUser()
{
    FakeSettings settings;
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    AppleIDAuthService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    service.handle(
        Authorization{credential(QStringLiteral("u"), std::nullopt, QStringLiteral("a@b.c"))});
    QSignalSpy changes(&service, &AppleIDAuthService::stateChanged);
    service.signOut();
    QCOMPARE(service.state(), SignInState::signedOut());
    QCOMPARE(changes.size(), 1);
    QVERIFY(!settings.open()->contains(userKey));
    QVERIFY(!settings.open()->contains(nameKey));
    // The provider drops what it keeps to recognise the person (a refresh token) once, too.
    QCOMPARE(script->forgottenUsers, QStringList{QStringLiteral("u")});
    service.signOut();
    QCOMPARE(changes.size(), 1);
    QCOMPARE(script->forgottenUsers.size(), 1);
}

void AppleIDAuthTest::signInAsksForFullNameThenEmail()
{
    FakeSettings settings;
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    AppleIDAuthService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    service.signIn();
    QCOMPARE(script->requests.size(), 1);
    const QList<AuthorizationScope> expected{AuthorizationScope::fullName,
                                             AuthorizationScope::email};
    QCOMPARE(script->requests.first().requestedScopes, expected);
}

void AppleIDAuthTest::answerFromAnotherThreadIsAppliedOnTheMainThread()
{
    FakeSettings settings;
    settings.open()->setValue(userKey, QStringLiteral("u"));
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    AppleIDAuthService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    QVERIFY(script->pendingCredential);

    QThread *changedOn = nullptr;
    connect(&service, &AppleIDAuthService::stateChanged, this,
            [&changedOn] { changedOn = QThread::currentThread(); });
    std::thread provider(
        [completion = script->pendingCredential] { completion(CredentialState::authorized); });
    provider.join();
    QCOMPARE(service.state(), SignInState::checking());
    QTRY_COMPARE(service.state(), SignInState::signedIn(QStringLiteral("Apple ID")));
    QCOMPARE(changedOn, QThread::currentThread());
}

void AppleIDAuthTest::answerAfterTheServiceIsGoneIsDropped()
{
    FakeSettings settings;
    settings.open()->setValue(userKey, QStringLiteral("u"));
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    auto service = std::make_unique<AppleIDAuthService>(
        std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    service->signIn();
    service.reset();
    script->pendingCredential(CredentialState::revoked);
    script->pendingRequest(
        Authorization{credential(QStringLiteral("v"), std::nullopt, std::nullopt)});
    QCoreApplication::processEvents();
    // Neither late answer touched the remembered user.
    QCOMPARE(settings.open()->value(userKey).toString(), QStringLiteral("u"));
}

void AppleIDAuthTest::lateLaunchAnswerLeavesANewSignInAlone()
{
    FakeSettings settings;
    settings.open()->setValue(userKey, QStringLiteral("old-user"));
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    AppleIDAuthService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    service.handle(Authorization{
        credential(QStringLiteral("new-user"), std::nullopt, QStringLiteral("n@example.org"))});
    script->pendingCredential(CredentialState::revoked);
    QCoreApplication::processEvents();
    QCOMPARE(service.state(), SignInState::signedIn(QStringLiteral("n@example.org")));
    QCOMPARE(settings.open()->value(userKey).toString(), QStringLiteral("new-user"));
    QCOMPARE(settings.open()->value(nameKey).toString(), QStringLiteral("n@example.org"));
}

void AppleIDAuthTest::formatsNamesByScript_data()
{
    QTest::addColumn<PersonNameComponents>("components");
    QTest::addColumn<QString>("expected");
    PersonNameComponents nicknameOnly;
    nicknameOnly.nickname = QStringLiteral("Lin");
    QTest::newRow("western") << name(QStringLiteral("Grace"), QStringLiteral("Hopper"))
                             << QStringLiteral("Grace Hopper");
    QTest::newRow("given only") << name(QStringLiteral("Grace"), QString())
                                << QStringLiteral("Grace");
    QTest::newRow("family only") << name(QString(), QStringLiteral("Hopper"))
                                 << QStringLiteral("Hopper");
    QTest::newRow("chinese") << name(QStringLiteral("小明"), QStringLiteral("王"))
                             << QStringLiteral("王小明");
    QTest::newRow("japanese") << name(QStringLiteral("花子"), QStringLiteral("山田"))
                              << QStringLiteral("山田花子");
    QTest::newRow("nickname only") << nicknameOnly << QStringLiteral("Lin");
    QTest::newRow("empty") << PersonNameComponents() << QString();
}

void AppleIDAuthTest::formatsNamesByScript()
{
    QFETCH(PersonNameComponents, components);
    QFETCH(QString, expected);
    QCOMPARE(AppleIDAuthService::formattedName(components), expected);
}

QTEST_GUILESS_MAIN(AppleIDAuthTest)
#include "tst_appleidauth.moc"
