#include "PlatformServices.h"

#include "NoIdentityProvider.h"
#include "services/CloudKitThoughtSyncing.h"

std::unique_ptr<CloudKitThoughtSyncing> makeDefaultCloudStore()
{
    // FIXME: the WebDAV record store arrives with the cloud account.
    return nullptr;
}

std::unique_ptr<IdentityProvider> makeDefaultIdentityProvider()
{
    return std::make_unique<NoIdentityProvider>();
}
