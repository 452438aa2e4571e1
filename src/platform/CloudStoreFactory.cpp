#include "PlatformServices.h"

#include "cloud/CloudAccount.h"
#include "cloud/SyncBuild.h"
#include "cloud/WebDavCloudDatabase.h"
#include "cloud/WebDavRemoteBoard.h"

std::unique_ptr<RemoteBoard> makeDefaultCloudStore()
{
    const std::optional<CloudAccount> account = CloudAccounts::configured();
    if (!account)
        return nullptr;
    // An account with an unusable address still gets a store: its requests fail with the reason,
    // which the status pill then shows, instead of the board silently staying local.
    return makeCloudStore(*account, CloudAccounts::passwordSource(*account));
}

std::unique_ptr<RemoteBoard> makeCloudStore(const CloudAccount &account, PasswordSource password)
{
    if (!SyncBuild::isSyncEnabled())
        return nullptr;
    return std::make_unique<WebDavRemoteBoard>(
        std::make_unique<WebDavCloudDatabase>(account, std::move(password)));
}
