#include "PlatformServices.h"

#include "NoIdentityProvider.h"
#include "identity/OidcIdentityProvider.h"
#include "identity/OidcKeychainSecretStore.h"

#include <QProcess>
#include <QSettings>

std::optional<OidcProviderChoice> configuredIdentityProvider()
{
    std::optional<OidcProviderChoice> buildDefault;
#if defined(LUMARET_OIDC_ISSUER) && defined(LUMARET_OIDC_CLIENT_ID)
    buildDefault = OidcProviderChoice{QStringLiteral(LUMARET_OIDC_ISSUER),
                                      QStringLiteral(LUMARET_OIDC_CLIENT_ID),
                                      OidcProviderChoice::Source::build};
#endif
    const QSettings settings(QStringLiteral("Lumaret"), QStringLiteral("Lumaret"));
    return OidcProviderChoice::current(settings, buildDefault);
}

std::unique_ptr<IdentityProvider> makeDefaultIdentityProvider(BrowserOpener openBrowser,
                                                              BrowserPageWording describeFailure)
{
    const std::optional<OidcProviderChoice> choice = configuredIdentityProvider();
    if (!choice)
        return std::make_unique<NoIdentityProvider>();
    if (!openBrowser) {
        // Without a desktop at hand, the freedesktop opener reaches the person's browser.
        openBrowser = [](const QUrl &url) {
            return QProcess::startDetached(QStringLiteral("xdg-open"),
                                           {url.toString(QUrl::FullyEncoded)});
        };
    }
    OidcSettings settings;
    settings.issuer = choice->issuer;
    settings.clientId = choice->clientId;
    auto provider = std::make_unique<OidcIdentityProvider>(
        std::move(settings), std::move(openBrowser), std::make_unique<OidcKeychainSecretStore>());
    provider->setBrowserPageWording(std::move(describeFailure));
    return provider;
}
