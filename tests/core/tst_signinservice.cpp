#include "FakeSettings.h"
#include "ScriptedIdentityProvider.h"
#include "services/SignInService.h"

#include <QTest>

using SignInState = SignInService::SignInState;
Q_DECLARE_METATYPE(SignInState)
Q_DECLARE_METATYPE(std::optional<CredentialState>)

namespace {

const QString userKey = SignInService::userIdentifierKey();
const QString nameKey = SignInService::displayNameKey();

Authorization signedInAs(const QString &user, const QString &given, const QString &family,
                         std::optional<QString> email, const QString &nickname = {})
{
    PersonNameComponents name;
    name.givenName = given;
    name.familyName = family;
    name.nickname = nickname;
    return Authorization{IdentityCredential{user, name, std::move(email), {}}};
}

} // namespace

class SignInServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void launchAsksOnceAndFollowsTheAnswer_data();
    void launchAsksOnceAndFollowsTheAnswer();
    void signInRemembersWhoAndUnderWhichName_data();
    void signInRemembersWhoAndUnderWhichName();
    void signOutAndLateAnswersLeaveNoUserBehind();
    void earlierKeysAreMovedOnce_data();
    void earlierKeysAreMovedOnce();
};

void SignInServiceTest::launchAsksOnceAndFollowsTheAnswer_data()
{
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<std::optional<CredentialState>>("answer");
    QTest::addColumn<SignInState>("expected");
    QTest::addColumn<bool>("keysKept");
    const QString lin = QStringLiteral("林晓");
    QTest::newRow("first launch") << QString() << std::optional<CredentialState>()
                                  << SignInState::signedOut() << false;
    QTest::newRow("authorised") << lin << std::optional(CredentialState::authorized)
                                << SignInState::signedIn(lin) << true;
    QTest::newRow("authorised without a name")
        << QString() << std::optional(CredentialState::authorized)
        << SignInState::signedIn(QStringLiteral("已登录")) << true;
    QTest::newRow("revoked") << lin << std::optional(CredentialState::revoked)
                             << SignInState::signedOut() << false;
    QTest::newRow("not found") << lin << std::optional(CredentialState::notFound)
                               << SignInState::signedOut() << false;
    QTest::newRow("transferred") << lin << std::optional(CredentialState::unreachable)
                                 << SignInState::signedOut() << true;
}

void SignInServiceTest::launchAsksOnceAndFollowsTheAnswer()
{
    QFETCH(QString, storedName);
    QFETCH(std::optional<CredentialState>, answer);
    QFETCH(SignInState, expected);
    QFETCH(bool, keysKept);
    const QString user = answer ? QStringLiteral("user-1") : QString();
    FakeSettings settings;
    if (answer)
        settings.open()->setValue(userKey, user);
    if (!storedName.isEmpty())
        settings.open()->setValue(nameKey, storedName);
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->credentialAnswer = answer;

    SignInService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    // Even an answer given from inside the call is applied only after the constructor returns.
    QCOMPARE(service.state(), answer ? SignInState::checking() : SignInState::signedOut());
    QTRY_COMPARE(service.state(), expected);
    QCOMPARE(script->askedUsers, answer ? QStringList{user} : QStringList());
    QCOMPARE(settings.open()->contains(userKey), keysKept);
    QCOMPARE(settings.open()->contains(nameKey), keysKept && !storedName.isEmpty());
}

void SignInServiceTest::signInRemembersWhoAndUnderWhichName_data()
{
    QTest::addColumn<AuthorizationOutcome>("outcome");
    QTest::addColumn<SignInState>("expected");
    QTest::addColumn<QString>("storedUser");
    const QString mail = QStringLiteral("a@example.org");
    auto signedIn = [](const char *name) { return SignInState::signedIn(QString::fromUtf8(name)); };
    // Every row starts with "old-user" remembered as "旧名字".
    const AuthorizationError cancelled{AuthorizationError::Kind::cancelled, "access_denied"};
    QTest::newRow("cancelled") << AuthorizationOutcome(cancelled) << SignInState::failed(cancelled)
                               << "old-user";
    QTest::newRow("not an identity credential")
        << AuthorizationOutcome(Authorization{})
        << SignInState::failed(AuthorizationError(AuthorizationError::Kind::credentialUnreadable))
        << "old-user";
    QTest::newRow("western name") << AuthorizationOutcome(signedInAs("u2", "Ada", "Lovelace", mail))
                                  << signedIn("Ada Lovelace") << "u2";
    QTest::newRow("chinese name") << AuthorizationOutcome(signedInAs("u2", "晓", "林", mail))
                                  << signedIn("林晓") << "u2";
    QTest::newRow("nickname only")
        << AuthorizationOutcome(signedInAs("u2", "", "", mail, QStringLiteral("Lin")))
        << signedIn("Lin") << "u2";
    QTest::newRow("empty name, e-mail") << AuthorizationOutcome(signedInAs("u2", "", "", mail))
                                        << signedIn("a@example.org") << "u2";
    QTest::newRow("blank e-mail is not trimmed")
        << AuthorizationOutcome(signedInAs("u2", "", "", QStringLiteral(" "))) << signedIn(" ")
        << "u2";
    QTest::newRow("nothing to greet with")
        << AuthorizationOutcome(
               Authorization{IdentityCredential{QStringLiteral("old-user"), {}, QString(), {}}})
        << signedIn("已登录") << "old-user";
}

void SignInServiceTest::signInRemembersWhoAndUnderWhichName()
{
    QFETCH(AuthorizationOutcome, outcome);
    QFETCH(SignInState, expected);
    QFETCH(QString, storedUser);
    FakeSettings settings;
    settings.open()->setValue(userKey, QStringLiteral("old-user"));
    settings.open()->setValue(nameKey, QStringLiteral("旧名字"));
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->requestAnswer = outcome;
    SignInService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    service.signIn();
    QTRY_COMPARE(service.state(), expected);
    QCOMPARE(script->requests.size(), 1);
    QCOMPARE(script->requests.first().requestedScopes,
             (QList<AuthorizationScope>{AuthorizationScope::fullName, AuthorizationScope::email}));
    const bool failed = expected.kind == SignInState::Kind::failed;
    QCOMPARE(settings.open()->value(userKey).toString(), storedUser);
    QCOMPARE(settings.open()->value(nameKey).toString(),
             failed ? QStringLiteral("旧名字") : expected.displayName);
}

void SignInServiceTest::signOutAndLateAnswersLeaveNoUserBehind()
{
    FakeSettings settings;
    settings.open()->setValue(userKey, QStringLiteral("old-user"));
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    auto service = std::make_unique<SignInService>(
        std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    // A launch check answering after a sign-in as someone else leaves the new user alone.
    service->handle(signedInAs("new-user", "", "", QStringLiteral("n@example.org")));
    script->pendingCredential(CredentialState::revoked);
    QCoreApplication::processEvents();
    QCOMPARE(service->state(), SignInState::signedIn(QStringLiteral("n@example.org")));
    QCOMPARE(settings.open()->value(userKey).toString(), QStringLiteral("new-user"));
    // Signing out forgets the user here and at the provider (its refresh token), once.
    service->signOut();
    service->signOut();
    QCOMPARE(service->state(), SignInState::signedOut());
    QVERIFY(settings.open()->allKeys().isEmpty());
    QCOMPARE(script->forgottenUsers, QStringList{"new-user"});
    // An answer after the service is gone is dropped.
    service->signIn();
    service.reset();
    script->pendingRequest(signedInAs("v", "", "", std::nullopt));
    QCoreApplication::processEvents();
    QVERIFY(settings.open()->allKeys().isEmpty());
}

void SignInServiceTest::earlierKeysAreMovedOnce_data()
{
    QTest::addColumn<QString>("earlierUser");
    QTest::addColumn<QString>("currentUser");
    QTest::addColumn<QString>("expectedUser");
    QTest::newRow("only the earlier keys") << "old"
                                           << ""
                                           << "old";
    QTest::newRow("both: the later sign-in wins") << "old"
                                                  << "new"
                                                  << "new";
    QTest::newRow("neither") << ""
                             << ""
                             << "";
}

void SignInServiceTest::earlierKeysAreMovedOnce()
{
    QFETCH(QString, earlierUser);
    QFETCH(QString, currentUser);
    QFETCH(QString, expectedUser);
    FakeSettings settings;
    if (!earlierUser.isEmpty()) {
        settings.open()->setValue(SignInService::legacyUserIdentifierKey(), earlierUser);
        settings.open()->setValue(SignInService::legacyDisplayNameKey(), earlierUser + "名");
    }
    if (!currentUser.isEmpty()) {
        settings.open()->setValue(userKey, currentUser);
        settings.open()->setValue(nameKey, currentUser + "名");
    }
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->credentialAnswer = CredentialState::authorized;
    SignInService service(std::make_unique<ScriptedIdentityProvider>(script), settings.open());
    QTRY_COMPARE(script->askedUsers,
                 expectedUser.isEmpty() ? QStringList() : QStringList{expectedUser});
    const auto stored = settings.open();
    QCOMPARE(stored->value(userKey).toString(), expectedUser);
    QCOMPARE(stored->value(nameKey).toString(), expectedUser.isEmpty() ? "" : expectedUser + "名");
    QVERIFY(!stored->contains(SignInService::legacyUserIdentifierKey()));
    QVERIFY(!stored->contains(SignInService::legacyDisplayNameKey()));
}

QTEST_GUILESS_MAIN(SignInServiceTest)
#include "tst_signinservice.moc"
