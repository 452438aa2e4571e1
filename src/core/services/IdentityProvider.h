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
    /// What the person should know about this sign-in, worded for them; empty when nothing. Said
    /// when the provider could not keep what recognises them at the next launch (no keyring).
    QString notice;
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

/// A failed or cancelled sign-in, worded for the person.
struct AuthorizationError
{
    QString localizedDescription;
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
