#include "CloudCommand.h"
#include "DesktopIntegration.h"
#include "LumaretApp.h"
#include "MainWindow.h"
#include "QuickCapture.h"
#include "SingleInstance.h"
#include "SnapshotCommand.h"
#include "services/SyncService.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> code = DesktopIntegration::runCommand(argc, argv))
        return *code;
    if (argc > 1 && qstrcmp(argv[1], "cloud") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Lumaret"));
        QCoreApplication::setApplicationName(QStringLiteral("Lumaret"));
        return runCloudCommand(QCoreApplication::arguments().mid(2));
    }

    if (argc > 1 && qstrcmp(argv[1], "snapshots") == 0)
        return runSnapshotCommand(argc, argv);

    FontConfigurationLoad fontConfiguration;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumaret"));
    QApplication::setApplicationName(QStringLiteral("Lumaret"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumaret"));

    // A second launch hands over to the running instance before it creates anything that could
    // write the board.
    SingleInstance instance(SingleInstance::currentKey());
    if (instance.claim() == SingleInstance::Role::secondary)
        return 0;

    AppDependencies dependencies = beginLaunch(AppDependencies::live(), &fontConfiguration);
    DesktopIntegration desktop;
    // The network, the keyring and the identity provider are first reached after the first
    // frame: a launch shows the board before loading any of them.
    LumaretApp lumaret(std::move(dependencies), ServiceStart::afterFirstFrame);
    acceptQuickCaptures(instance, *lumaret.services().store);
    MainWindow window(lumaret.services());
    lumaret.startServicesAfterFirstFrame(&window);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &MainWindow::bringToFront);
    // Coming back to the window is when the person looks at the board again: catch up with
    // what other machines wrote meanwhile, and keep looking every few seconds while it is active.
    SyncService *sync = lumaret.services().syncService;
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, sync,
                     [sync](Qt::ApplicationState state) {
                         sync->setWindowActive(state == Qt::ApplicationActive);
                         if (state == Qt::ApplicationActive)
                             sync->catchUp();
                     });
    window.bringToFront();
    return app.exec();
}
