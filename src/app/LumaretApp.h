#pragma once

#include "AppServices.h"
#include "stores/BoardPersistence.h"

#include <functional>
#include <memory>

class AppleIDAuthService;
class BoardStore;
class CloudKitThoughtSyncing;
class IdentityProvider;
class QSettings;
class SyncService;

/// What the application is built over. Each piece is made only when the application asks for it,
/// so that the services come up in their fixed order.
struct AppDependencies
{
    BoardPersistence persistence;
    std::function<std::unique_ptr<IdentityProvider>()> makeIdentityProvider;
    std::function<std::unique_ptr<QSettings>()> makeDefaults;
    std::function<std::unique_ptr<CloudKitThoughtSyncing>()> makeCloudStore;

    /// The user's board file, the build's identity provider, the user's settings and the cloud
    /// store this build and account allow.
    static AppDependencies live();
};

/// The application's three long-lived services, created once in order: the board store (which
/// loads the board), the sign-in service, then the sync service. They live as long as this
/// object, whatever happens to the window.
class LumaretApp
{
public:
    explicit LumaretApp(AppDependencies dependencies);
    ~LumaretApp();

    LumaretApp(const LumaretApp &) = delete;
    LumaretApp &operator=(const LumaretApp &) = delete;

    AppServices services() const;

private:
    std::unique_ptr<BoardStore> m_boardStore;
    std::unique_ptr<AppleIDAuthService> m_authService;
    std::unique_ptr<SyncService> m_syncService;
};
