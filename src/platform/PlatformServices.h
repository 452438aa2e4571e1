#pragma once

#include "cloud/CloudAccount.h"
#include "identity/BrowserOpener.h"
#include "identity/OidcProviderChoice.h"

#include <memory>
#include <optional>

class RemoteBoard;
class IdentityProvider;

/// The cloud store this build and this user's account allow, or nothing for local-only.
std::unique_ptr<RemoteBoard> makeDefaultCloudStore();

/// The cloud store of \a account with its password from \a password, or nothing when this build
/// syncs with no cloud.
std::unique_ptr<RemoteBoard> makeCloudStore(const CloudAccount &account, PasswordSource password);

/// The OpenID Connect provider chosen in the environment, by `lumaret signin configure`, or when
/// this build was configured, in that order; nothing when there is none.
std::optional<OidcProviderChoice> configuredIdentityProvider();

/// The identity provider of configuredIdentityProvider(), or one that answers every sign-in with
/// a clear failure. A provider that signs in through the browser opens it with `openBrowser`;
/// without one it falls back to xdg-open, and words a failure on the page the browser shows at the
/// end with `describeFailure`.
std::unique_ptr<IdentityProvider>
makeDefaultIdentityProvider(BrowserOpener openBrowser = {},
                            BrowserPageWording describeFailure = {});
