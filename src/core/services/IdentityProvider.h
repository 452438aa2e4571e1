#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

/// The parts of a person's name an identity provider may hand over.
struct PersonNameComponents
{
    QString namePrefix;
    QString givenName;
    QString middleName;
    QString familyName;
    QString nameSuffix;
    QString nickname;

    friend bool operator==(const PersonNameComponents &, const PersonNameComponents &) = default;
};

/// What a successful sign-in tells about the person.
struct IdentityCredential
{
    /// Stable identifier of the person at this provider.
    QString user;
    std::optional<PersonNameComponents> fullName;
    std::optional<QString> email;
    /// What the person should know about this sign-in: whether the provider could keep what
    /// recognises them at the next launch, and if not, why.
    enum class Notice { none, noRefreshToken, noKeyring };
    Notice notice = Notice::none;
};

enum class AuthorizationScope { fullName, email };

struct AuthorizationRequest
{
    QList<AuthorizationScope> requestedScopes;
};

/// A finished sign-in: the credential, or nothing when the provider answered with a credential
/// of another kind than the one the service understands.
struct Authorization
{
    std::optional<IdentityCredential> credential;
};

/// A failed or cancelled sign-in: what went wrong and the particulars the provider gave. The
/// views word it for the person.
struct AuthorizationError
{
    enum class Kind {
        /// Nothing more is known than that the sign-in did not finish.
        unexplained,
        /// The build or the person has not chosen a provider.
        notConfigured,
        /// A newer sign-in took this one's place.
        superseded,
        /// The system's random generator failed, so no state, nonce or verifier could be made.
        randomUnavailable,
        /// No answer from the provider: no network, a timeout, the provider failing.
        providerUnreachable,
        /// The provider's discovery document cannot be signed in with (another issuer, plain
        /// HTTP beyond this machine, a redirect, endpoints missing).
        discoveryInvalid,
        /// The provider answered with a redirect, which a sign-in never follows.
        answerRedirected,
        /// The provider's answer ran past the size limit; detail is the limit in MiB.
        answerTooLarge,
        /// Nothing could listen on this machine for the browser's return.
        listenerFailed,
        browserUnavailable,
        /// The browser did not come back in time.
        timedOut,
        /// What came back through the browser is not this sign-in's answer (state, issuer or
        /// code wrong or missing).
        redirectTampered,
        /// The person refused, or cancelled at the provider.
        cancelled,
        /// The provider reported an error through the browser; detail is its error code.
        providerRefused,
        /// The provider did not accept the code; detail is its error code, else the HTTP status.
        tokenExchangeFailed,
        idTokenMissing,
        /// The provider's signing keys could not be fetched.
        keysUnavailable,
        /// The ID token failed a check; tokenFault says which.
        idTokenInvalid,
        /// The provider answered with a credential of a kind the service does not understand.
        credentialUnreadable,
    };
    /// Why an ID token was refused.
    enum class TokenFault {
        malformed,
        unsupportedAlgorithm,
        noMatchingKey,
        badSignature,
        wrongIssuer,
        wrongAudience,
        expired,
        wrongNonce,
        missingSubject,
    };

    AuthorizationError() = default;
    explicit AuthorizationError(Kind what, QString particulars = {})
        : kind(what), detail(std::move(particulars))
    {}
    static AuthorizationError invalidIdToken(TokenFault fault)
    {
        AuthorizationError error(Kind::idTokenInvalid);
        error.tokenFault = fault;
        return error;
    }

    Kind kind = Kind::unexplained;
    /// The provider's error code, an HTTP status or a size limit, as the kind says.
    QString detail;
    TokenFault tokenFault = TokenFault::malformed;

    friend bool operator==(const AuthorizationError &, const AuthorizationError &) = default;
};

using AuthorizationOutcome = std::variant<Authorization, AuthorizationError>;

/// The provider's answer about a remembered user; unreachable when it could not be asked (no
/// network, the provider down), which keeps the user for the next launch to ask again.
enum class CredentialState { revoked, authorized, notFound, unreachable };

/// The identity provider behind the sign-in panel. Completions may arrive on any thread and are
/// called exactly once.
class IdentityProvider
{
public:
    virtual ~IdentityProvider() = default;

    virtual void credentialState(const QString &user,
                                 std::function<void(CredentialState)> completion) = 0;
    virtual void performRequest(const AuthorizationRequest &request,
                                std::function<void(AuthorizationOutcome)> completion) = 0;
    /// Drops whatever the provider keeps on this machine to recognise \a user again (a stored
    /// refresh token, for one). Providers that keep nothing do nothing.
    virtual void forget(const QString &user) { Q_UNUSED(user); }
    /// Whether there is anyone to sign in with; a build or a person may not have chosen one yet.
    virtual bool isConfigured() const { return true; }
    /// How the person knows the provider (its host, say); empty when it has no name to show.
    virtual QString name() const { return {}; }
};
