#pragma once

#include <memory>

class CloudKitThoughtSyncing;
class IdentityProvider;

/// The cloud store this build and this user's account allow, or nothing for local-only.
std::unique_ptr<CloudKitThoughtSyncing> makeDefaultCloudStore();

/// The identity provider this build was configured with.
std::unique_ptr<IdentityProvider> makeDefaultIdentityProvider();
