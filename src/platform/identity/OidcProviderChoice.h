#pragma once

#include <QString>

#include <optional>

class QSettings;

/// The OpenID Connect provider a person signs in with, and where that choice was made. The
/// environment overrides what `lumaret signin configure` stored, which overrides the provider the
/// build was configured with.
struct OidcProviderChoice
{
    enum class Source { environment, settings, build };

    QString issuer;
    QString clientId;
    Source source = Source::build;

    /// The settings keys `lumaret signin configure` writes.
    static QString issuerKey();
    static QString clientIdKey();

    /// The choice in force: LUMARET_OIDC_ISSUER and LUMARET_OIDC_CLIENT_ID when both are set, the
    /// stored choice in \a settings, then \a buildDefault; nothing when none names both values.
    static std::optional<OidcProviderChoice>
    current(const QSettings &settings, const std::optional<OidcProviderChoice> &buildDefault);

    static void store(QSettings &settings, const QString &issuer, const QString &clientId);
    static void forget(QSettings &settings);
};
