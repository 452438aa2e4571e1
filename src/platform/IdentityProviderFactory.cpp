#include "PlatformServices.h"

#include "NoIdentityProvider.h"
#include "identity/OidcIdentityProvider.h"
#include "identity/OidcKeychainSecretStore.h"

#include <QProcess>

std::unique_ptr<IdentityProvider> makeDefaultIdentityProvider(BrowserOpener openBrowser)
{
#if defined(LUMARET_OIDC_ISSUER) && defined(LUMARET_OIDC_CLIENT_ID)
    if (!openBrowser) {
        // Without a desktop at hand, the freedesktop opener reaches the person's browser.
        openBrowser = [](const QUrl &url) {
            return QProcess::startDetached(QStringLiteral("xdg-open"),
                                           {url.toString(QUrl::FullyEncoded)});
        };
    }
    OidcSettings settings;
    settings.issuer = QStringLiteral(LUMARET_OIDC_ISSUER);
    settings.clientId = QStringLiteral(LUMARET_OIDC_CLIENT_ID);
    return std::make_unique<OidcIdentityProvider>(std::move(settings), std::move(openBrowser),
                                                  std::make_unique<OidcKeychainSecretStore>());
#else
    Q_UNUSED(openBrowser);
    return std::make_unique<NoIdentityProvider>();
#endif
}
