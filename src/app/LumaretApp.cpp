#include "LumaretApp.h"

#include "PlatformServices.h"
#include "services/AppleIDAuthService.h"
#include "services/CloudKitThoughtSyncing.h"
#include "services/IdentityProvider.h"
#include "services/SyncService.h"
#include "stores/BoardStore.h"

#include <QSettings>

AppDependencies AppDependencies::live()
{
    return {BoardPersistence::live(), [] { return makeDefaultIdentityProvider(); },
            [] {
                return std::make_unique<QSettings>(QStringLiteral("Lumaret"),
                                                   QStringLiteral("Lumaret"));
            },
            [] { return makeDefaultCloudStore(); }};
}

LumaretApp::LumaretApp(AppDependencies dependencies)
    : m_boardStore(std::make_unique<BoardStore>(std::move(dependencies.persistence))),
      m_authService(std::make_unique<AppleIDAuthService>(dependencies.makeIdentityProvider(),
                                                         dependencies.makeDefaults())),
      m_syncService(std::make_unique<SyncService>(dependencies.makeCloudStore()))
{
}

LumaretApp::~LumaretApp() = default;

AppServices LumaretApp::services() const
{
    return {m_boardStore.get(), m_authService.get(), m_syncService.get()};
}
