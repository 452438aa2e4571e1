#pragma once

#include "services/IdentityProvider.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <optional>
#include <variant>

/// What an ID token must say before any of its claims is believed.
struct IdTokenExpectations
{
    QString issuer;
    QString clientId;
    /// The nonce sent with the authorization request; none when the token answers a refresh.
    std::optional<QString> nonce;
    QDateTime now;
    /// Clock difference tolerated between this machine and the provider.
    std::chrono::seconds leeway{60};
};

/// Why an ID token was refused; the views word it as part of a failed sign-in.
using IdTokenFault = AuthorizationError::TokenFault;

using IdTokenVerdict = std::variant<QJsonObject, IdTokenFault>;

/// Checks a compact-serialised ID token: an RS256 or ES256 signature by one of the keys of
/// `jwks` (a JSON Web Key Set), then issuer, audience (and authorised party), expiry, nonce and
/// subject. Gives the token's claims only when every check passes.
IdTokenVerdict validateIdToken(const QByteArray &token, const QJsonObject &jwks,
                               const IdTokenExpectations &expectations);

/// Random bytes from the operating system's cryptographic generator, base64url without padding.
/// Empty when the generator fails, which callers must treat as a failure.
QByteArray randomUrlSafeToken(int byteCount);

/// The PKCE S256 challenge of a code verifier: base64url(SHA-256(verifier)) without padding.
QByteArray pkceS256Challenge(const QByteArray &verifier);
