#include "PlatformServices.h"

#include "cloud/CloudAccount.h"
#include "cloud/CloudKitSyncAccess.h"
#include "cloud/CloudKitThoughtSyncService.h"
#include "cloud/WebDavCloudDatabase.h"

std::unique_ptr<CloudKitThoughtSyncing> makeDefaultCloudStore()
{
    const std::optional<CloudAccount> account = CloudAccounts::configured();
    if (!account)
        return nullptr;
    // An account with an unusable address still gets a store: its requests fail with the reason,
    // which the status pill then shows, instead of the board silently staying local.
    return makeCloudStore(*account, CloudAccounts::passwordSource(*account));
}

std::unique_ptr<CloudKitThoughtSyncing> makeCloudStore(const CloudAccount &account,
                                                       PasswordSource password)
{
    if (!CloudKitSyncAccess::hasCloudKitEntitlement())
        return nullptr;
    return std::make_unique<CloudKitThoughtSyncService>(
        std::make_unique<WebDavCloudDatabase>(account, std::move(password)));
}
