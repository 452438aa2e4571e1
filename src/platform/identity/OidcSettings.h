#pragma once

#include <QString>

#include <chrono>

/// The OpenID Connect provider a build signs in with, and how long a sign-in may wait for the
/// browser to come back.
struct OidcSettings
{
    /// The issuer exactly as the provider names itself; its discovery document lives below it.
    QString issuer;
    QString clientId;
    std::chrono::milliseconds redirectTimeLimit = std::chrono::minutes(5);
    /// Clock difference tolerated when checking the ID token's expiry.
    std::chrono::seconds clockLeeway{60};

    /// The user identifier of a subject at this provider: issuer, "#", subject. An issuer has no
    /// fragment, so the two parts never run into each other.
    QString userIdentifier(const QString &subject) const
    {
        return issuer + QLatin1Char('#') + subject;
    }

    /// The secret store entry holding the refresh token of this provider and client.
    QString secretKey() const
    {
        return QStringLiteral("openid-refresh-token:%1@%2").arg(clientId, issuer);
    }
};
