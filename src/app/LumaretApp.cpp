#include "LumaretApp.h"

#include "PlatformServices.h"
#include "services/IdentityProvider.h"
#include "services/RemoteBoard.h"
#include "services/SignInService.h"
#include "services/StoreSyncLink.h"
#include "services/SyncService.h"
#include "stores/BoardSnapshots.h"
#include "stores/BoardStore.h"
#include "support/RelativeLabel.h"
#include "support/SignInMessages.h"
#include "support/TextStyles.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <fontconfig/fontconfig.h>

#include <system_error>
#include <vector>

AppDependencies AppDependencies::live()
{
    return {BoardSnapshots::guarding(BoardPersistence::live(), &BoardPersistence::liveStoragePath),
            [] {
                return makeDefaultIdentityProvider(
                    [](const QUrl &url) { return QDesktopServices::openUrl(url); },
                    &SignInMessages::failure);
            },
            [] {
                return std::make_unique<QSettings>(QStringLiteral("Lumaret"),
                                                   QStringLiteral("Lumaret"));
            },
            [] { return makeDefaultCloudStore(); },
            BoardPersistence::file(agreedBoardPath(BoardPersistence::liveStoragePath())),
            relativeLabelsPath()};
}

QString relativeLabelsPath()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/Lumaret/relative-labels.txt");
}

QString agreedBoardPath(const QString &boardPath)
{
    if (boardPath.isEmpty())
        return {};
    const QFileInfo board(boardPath);
    return board.dir().filePath(board.completeBaseName() + QStringLiteral(".agreed.json"));
}

FontConfigurationLoad::FontConfigurationLoad()
{
    try {
        m_thread = std::jthread([] { FcInit(); });
    } catch (const std::system_error &) {
        // No thread to spare: the font database loads the configuration when it is first asked.
    }
}

void FontConfigurationLoad::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

AppDependencies beginLaunch(AppDependencies dependencies, FontConfigurationLoad *fontConfiguration)
{
    dependencies.persistence = BoardPersistence::readingAhead(std::move(dependencies.persistence));
    // Finding the system's fonts is the largest single step before the first frame, and reading
    // a large board the second: they run side by side.
    if (fontConfiguration)
        fontConfiguration->wait();
    QFontDatabase::families();
    // Menus, dialogs and tooltips draw with the application font. Left as it is, its fallback for
    // Chinese is fontconfig's choice for the session's locale, which outside a Chinese locale is
    // another CJK face (Japanese forms of the same characters) that the launch loads as well.
    QApplication::setFont(withSystemFamilies(QApplication::font()));
    // Without kept labels the first frame loads ICU's formatter; the labels are then written
    // once it is on screen.
    if (!dependencies.relativeLabels.isEmpty() &&
        useKeptRelativeLabels(dependencies.relativeLabels))
        dependencies.relativeLabels.clear();
    return dependencies;
}

// Holds the services' calls to the identity provider and the cloud store until it opens; from then
// on calls go straight through.
class ServiceGate
{
public:
    explicit ServiceGate(ServiceStart start) : m_open(start == ServiceStart::immediately) {}

    void run(std::function<void()> call)
    {
        if (m_open)
            call();
        else
            m_waiting.push_back(std::move(call));
    }

    void open()
    {
        if (m_open)
            return;
        m_open = true;
        // A call may be queued by another one running: take them one at a time.
        while (!m_waiting.empty()) {
            std::function<void()> call = std::move(m_waiting.front());
            m_waiting.erase(m_waiting.begin());
            call();
        }
    }

private:
    bool m_open;
    std::vector<std::function<void()>> m_waiting;
};

namespace {

using Gate = std::shared_ptr<ServiceGate>;

class GatedIdentityProvider : public IdentityProvider
{
public:
    GatedIdentityProvider(std::unique_ptr<IdentityProvider> provider, Gate gate)
        : m_provider(std::move(provider)), m_gate(std::move(gate))
    {}

    void credentialState(const QString &user,
                         std::function<void(CredentialState)> completion) override
    {
        m_gate->run([this, user, completion = std::move(completion)]() mutable {
            m_provider->credentialState(user, std::move(completion));
        });
    }

    void performRequest(const AuthorizationRequest &request,
                        std::function<void(AuthorizationOutcome)> completion) override
    {
        m_gate->run([this, request, completion = std::move(completion)]() mutable {
            m_provider->performRequest(request, std::move(completion));
        });
    }

    void forget(const QString &user) override
    {
        m_gate->run([this, user] { m_provider->forget(user); });
    }

    bool isConfigured() const override { return m_provider->isConfigured(); }
    QString name() const override { return m_provider->name(); }

private:
    std::unique_ptr<IdentityProvider> m_provider;
    Gate m_gate;
};

class GatedCloudStore : public RemoteBoard
{
public:
    GatedCloudStore(std::unique_ptr<RemoteBoard> store, Gate gate)
        : m_store(std::move(store)), m_gate(std::move(gate))
    {}

    void accountStatus(AccountStatusCompletion completion) override
    {
        m_gate->run([this, completion = std::move(completion)]() mutable {
            m_store->accountStatus(std::move(completion));
        });
    }

    void fetch(FetchCompletion completion) override
    {
        m_gate->run([this, completion = std::move(completion)]() mutable {
            m_store->fetch(std::move(completion));
        });
    }

    void save(const Board &board, const QByteArray &basedOn, SaveCompletion completion) override
    {
        m_gate->run([this, board, basedOn, completion = std::move(completion)]() mutable {
            m_store->save(board, basedOn, std::move(completion));
        });
    }

    void version(VersionCompletion completion) override
    {
        m_gate->run([this, completion = std::move(completion)]() mutable {
            m_store->version(std::move(completion));
        });
    }

    void moveAside(const QByteArray &version, MoveAsideCompletion completion) override
    {
        m_gate->run([this, version, completion = std::move(completion)]() mutable {
            m_store->moveAside(version, std::move(completion));
        });
    }

    void asides(AsidesCompletion completion) override
    {
        m_gate->run([this, completion = std::move(completion)]() mutable {
            m_store->asides(std::move(completion));
        });
    }

    void fetchAside(const QString &name, FetchCompletion completion) override
    {
        m_gate->run([this, name, completion = std::move(completion)]() mutable {
            m_store->fetchAside(name, std::move(completion));
        });
    }

    void removeAside(const QString &name, DoneCompletion completion) override
    {
        m_gate->run([this, name, completion = std::move(completion)]() mutable {
            m_store->removeAside(name, std::move(completion));
        });
    }

private:
    std::unique_ptr<RemoteBoard> m_store;
    Gate m_gate;
};

std::unique_ptr<SignInService> makeAuthService(const AppDependencies &dependencies,
                                               const Gate &gate)
{
    // Named steps, because the order in which function arguments are evaluated is unspecified.
    std::unique_ptr<IdentityProvider> provider = dependencies.makeIdentityProvider();
    if (provider)
        provider = std::make_unique<GatedIdentityProvider>(std::move(provider), gate);
    auto defaults = dependencies.makeDefaults();
    return std::make_unique<SignInService>(std::move(provider), std::move(defaults));
}

std::unique_ptr<SyncService> makeSyncService(const AppDependencies &dependencies, const Gate &gate)
{
    std::unique_ptr<RemoteBoard> store = dependencies.makeCloudStore();
    if (store)
        store = std::make_unique<GatedCloudStore>(std::move(store), gate);
    return std::make_unique<SyncService>(std::move(store), dependencies.agreedBoard);
}

// Opens the gate once the window it watches has painted, from the event loop, so that the frame
// is on screen before anything waiting runs.
class FirstFrameWatcher : public QObject
{
public:
    FirstFrameWatcher(QWidget *window, std::weak_ptr<ServiceGate> gate)
        : QObject(window), m_gate(std::move(gate))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                if (const auto gate = m_gate.lock())
                    gate->open();
                deleteLater();
            });
        }
        return false;
    }

private:
    std::weak_ptr<ServiceGate> m_gate;
};

} // namespace

LumaretApp::LumaretApp(AppDependencies dependencies, ServiceStart start)
    : m_gate(std::make_shared<ServiceGate>(start)),
      m_boardStore(std::make_unique<BoardStore>(std::move(dependencies.persistence))),
      m_authService(makeAuthService(dependencies, m_gate)),
      m_syncService(makeSyncService(dependencies, m_gate))
{
    // Sync starts with the services; its calls to the cloud wait at the gate for the first frame.
    linkStoreToSync(*m_boardStore, *m_syncService);
    if (!dependencies.relativeLabels.isEmpty())
        m_gate->run([path = dependencies.relativeLabels] { keepRelativeLabels(path); });
    // A change still in its quiet period goes out before the process ends, unless the server
    // keeps it waiting: then the board file keeps it for the next launch.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_syncService.get(),
                     [sync = m_syncService.get()] { sync->flushPendingUpload(quitFlushLimit); });
}

LumaretApp::~LumaretApp() = default;

AppServices LumaretApp::services() const
{
    return {m_boardStore.get(), m_authService.get(), m_syncService.get()};
}

void LumaretApp::startServicesAfterFirstFrame(QWidget *window)
{
    auto *watcher = new FirstFrameWatcher(window, m_gate);
    // A window that is never painted (started minimised, say) must not keep sync from starting.
    QTimer::singleShot(std::chrono::seconds(2), watcher, [gate = std::weak_ptr(m_gate)] {
        if (const auto open = gate.lock())
            open->open();
    });
}
