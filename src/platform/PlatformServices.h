#pragma once

#include "identity/BrowserOpener.h"

#include <memory>

class CloudKitThoughtSyncing;
class IdentityProvider;

/// The cloud store this build and this user's account allow, or nothing for local-only.
std::unique_ptr<CloudKitThoughtSyncing> makeDefaultCloudStore();

/// The identity provider this build was configured with. A provider that signs in through the
/// browser opens it with `openBrowser`; without one it falls back to xdg-open.
std::unique_ptr<IdentityProvider> makeDefaultIdentityProvider(BrowserOpener openBrowser = {});
