#include "CloudCommand.h"
#include "LumaretApp.h"
#include "MainWindow.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "cloud") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Lumaret"));
        QCoreApplication::setApplicationName(QStringLiteral("Lumaret"));
        return runCloudCommand(QCoreApplication::arguments().mid(2));
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumaret"));
    QApplication::setApplicationName(QStringLiteral("Lumaret"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumaret"));

    // A second launch hands over to the running instance before it creates anything that could
    // write the board.
    SingleInstance instance(SingleInstance::currentKey());
    if (instance.claim() == SingleInstance::Role::secondary)
        return 0;

    // The network, the keyring and the identity provider are first reached after the first
    // frame: a launch shows the board before loading any of them.
    LumaretApp lumaret(AppDependencies::live(), ServiceStart::afterFirstFrame);
    MainWindow window(lumaret.services());
    lumaret.startServicesAfterFirstFrame(&window);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     &MainWindow::bringToFront);
    window.bringToFront();
    return app.exec();
}
