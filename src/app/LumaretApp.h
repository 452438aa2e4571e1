#pragma once

#include "AppServices.h"
#include "stores/BoardPersistence.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

class SignInService;
class BoardStore;
class QWidget;
class ServiceGate;
class RemoteBoard;
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
    std::function<std::unique_ptr<RemoteBoard>()> makeCloudStore;
    /// Where the board as this machine and the cloud last agreed on it is kept.
    BoardPersistence agreedBoard = {};
    /// Where the words for cards' ages are kept between launches; empty: not kept.
    QString relativeLabels = {};

    /// The user's board file, the build's identity provider, the user's settings and the cloud
    /// store this build and account allow.
    static AppDependencies live();
};

/// Where the labels for cards' ages are kept: the user's cache folder.
QString relativeLabelsPath();

/// The file beside the board file at \a boardPath that keeps the agreed board ("board.agreed.json"
/// beside "board.json"); empty without a board path.
QString agreedBoardPath(const QString &boardPath);

/// How long quitting waits for a change still on its way to the cloud.
inline constexpr std::chrono::seconds quitFlushLimit{2};

/// Loads the system's font configuration on another thread, from before the application object
/// is made (connecting to the display does not need it) until beginLaunch() does: parsing the
/// configuration and its caches is most of finding the fonts. Waits for the thread when destroyed.
class FontConfigurationLoad
{
public:
    FontConfigurationLoad();
    /// Returns once the configuration is loaded.
    void wait();

private:
    std::jthread m_thread;
};

/// The first step of a window's launch, once nothing else may write the board (after
/// SingleInstance::claim()): the board is read on another thread while this one loads the font
/// database, which the window needs before anything else, and gives the application font its CJK
/// face, and takes up the cards' age labels an earlier launch kept. Returns \a dependencies
/// reading ahead, without relativeLabels when those were read and need not be written again.
AppDependencies beginLaunch(AppDependencies dependencies,
                            FontConfigurationLoad *fontConfiguration = nullptr);

/// When the services may first reach the identity provider and the cloud store, which is where the
/// network, the keyring and the TLS libraries first come into play.
enum class ServiceStart {
    immediately,
    /// Their calls wait until startServicesAfterFirstFrame()'s window has painted once, so that
    /// a launch shows the board before any of that is loaded.
    afterFirstFrame,
};

/// The application's three long-lived services, created once in order: the board store (which
/// loads the board), the sign-in service, then the sync service. They live as long as this
/// object, whatever happens to the window.
class LumaretApp
{
public:
    explicit LumaretApp(AppDependencies dependencies,
                        ServiceStart start = ServiceStart::immediately);
    ~LumaretApp();

    LumaretApp(const LumaretApp &) = delete;
    LumaretApp &operator=(const LumaretApp &) = delete;

    AppServices services() const;

    /// With ServiceStart::afterFirstFrame, lets the services' waiting calls go once \a window
    /// has painted its first frame.
    void startServicesAfterFirstFrame(QWidget *window);

private:
    std::shared_ptr<ServiceGate> m_gate;
    std::unique_ptr<BoardStore> m_boardStore;
    std::unique_ptr<SignInService> m_authService;
    std::unique_ptr<SyncService> m_syncService;
};
