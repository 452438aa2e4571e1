#include "CommandLine.h"
#include "CommandOutput.h"
#include "DesktopIntegration.h"
#include "LumaretApp.h"
#include "MainWindow.h"
#include "QuickCapture.h"
#include "SingleInstance.h"
#include "services/SyncService.h"
#include "support/PrivateFiles.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

int main(int argc, char *argv[])
{
    if (const std::optional<int> code = CommandLine::run(argc, argv))
        return *code;

    FontConfigurationLoad fontConfiguration;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumaret"));
    QApplication::setApplicationName(QStringLiteral("Lumaret"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumaret"));
    // Several parts of Lumaret keep settings in this one file; it is made private before any of
    // them writes to it.
    {
        QSettings settings;
        PrivateFiles::sync(settings);
    }

    // A second launch hands over to the running instance before it creates anything that could
    // write the board.
    SingleInstance instance(SingleInstance::currentKey());
    switch (instance.claim()) {
    case SingleInstance::Role::primary:
        break;
    case SingleInstance::Role::secondary:
        return 0;
    case SingleInstance::Role::unavailable:
        // Launched from a menu, the person sees no terminal: an exit without a window must say
        // why where it is seen.
        CommandOutput::err() << instance.problem() << Qt::endl;
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumaret 无法启动"),
                        instance.problem());
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return CommandOutput::failure;
    }

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
