#include "identity/OidcProviderChoice.h"

#include "support/PrivateFiles.h"

#include <QSettings>

QString OidcProviderChoice::issuerKey()
{
    return QStringLiteral("lumaret.oidc.issuer");
}

QString OidcProviderChoice::clientIdKey()
{
    return QStringLiteral("lumaret.oidc.clientId");
}

std::optional<OidcProviderChoice>
OidcProviderChoice::current(const QSettings &settings,
                            const std::optional<OidcProviderChoice> &buildDefault)
{
    const QString environmentIssuer = qEnvironmentVariable("LUMARET_OIDC_ISSUER");
    const QString environmentClientId = qEnvironmentVariable("LUMARET_OIDC_CLIENT_ID");
    if (!environmentIssuer.isEmpty() && !environmentClientId.isEmpty())
        return OidcProviderChoice{environmentIssuer, environmentClientId, Source::environment};
    const QString storedIssuer = settings.value(issuerKey()).toString();
    const QString storedClientId = settings.value(clientIdKey()).toString();
    if (!storedIssuer.isEmpty() && !storedClientId.isEmpty())
        return OidcProviderChoice{storedIssuer, storedClientId, Source::settings};
    if (buildDefault && !buildDefault->issuer.isEmpty() && !buildDefault->clientId.isEmpty())
        return OidcProviderChoice{buildDefault->issuer, buildDefault->clientId, Source::build};
    return std::nullopt;
}

void OidcProviderChoice::store(QSettings &settings, const QString &issuer, const QString &clientId)
{
    settings.setValue(issuerKey(), issuer);
    settings.setValue(clientIdKey(), clientId);
    PrivateFiles::sync(settings);
}

void OidcProviderChoice::forget(QSettings &settings)
{
    settings.remove(issuerKey());
    settings.remove(clientIdKey());
    PrivateFiles::sync(settings);
}
