#include "PlatformServices.h"

#include "services/CloudKitThoughtSyncing.h"

std::unique_ptr<CloudKitThoughtSyncing> makeDefaultCloudStore()
{
    // FIXME: the WebDAV record store arrives with the cloud account.
    return nullptr;
}
