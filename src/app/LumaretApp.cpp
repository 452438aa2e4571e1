#include "LumaretApp.h"

#include "PlatformServices.h"
#include "services/AppleIDAuthService.h"
#include "services/CloudKitThoughtSyncing.h"
#include "services/IdentityProvider.h"
#include "services/SyncService.h"
#include "stores/BoardSnapshots.h"
#include "stores/BoardStore.h"

#include <QDesktopServices>
#include <QSettings>
#include <QUrl>

AppDependencies AppDependencies::live()
{
    return {BoardSnapshots::guarding(BoardPersistence::live(), &BoardPersistence::liveStoragePath),
            [] {
                return makeDefaultIdentityProvider(
                    [](const QUrl &url) { return QDesktopServices::openUrl(url); });
            },
            [] {
                return std::make_unique<QSettings>(QStringLiteral("Lumaret"),
                                                   QStringLiteral("Lumaret"));
            },
            [] { return makeDefaultCloudStore(); }};
}

namespace {

std::unique_ptr<AppleIDAuthService> makeAuthService(const AppDependencies &dependencies)
{
    // Named steps, because the order in which function arguments are evaluated is unspecified.
    auto provider = dependencies.makeIdentityProvider();
    auto defaults = dependencies.makeDefaults();
    return std::make_unique<AppleIDAuthService>(std::move(provider), std::move(defaults));
}

} // namespace

LumaretApp::LumaretApp(AppDependencies dependencies)
    : m_boardStore(std::make_unique<BoardStore>(std::move(dependencies.persistence))),
      m_authService(makeAuthService(dependencies)),
      m_syncService(std::make_unique<SyncService>(dependencies.makeCloudStore()))
{}

LumaretApp::~LumaretApp() = default;

AppServices LumaretApp::services() const
{
    return {m_boardStore.get(), m_authService.get(), m_syncService.get()};
}
