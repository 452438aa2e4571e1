#include "DesktopIntegration.h"

#include "PortalAppearance.h"
#include "QuickCapture.h"
#include "SignInCommand.h"

#include <QGuiApplication>
#include <QIcon>

QString DesktopIntegration::applicationId()
{
    return QStringLiteral("app.lumaret.Lumaret");
}

DesktopIntegration::DesktopIntegration(const QDBusConnection &sessionBus, QObject *parent)
    : QObject(parent)
{
    // Wayland compositors match windows to launchers by this name rather than by WM_CLASS.
    QGuiApplication::setDesktopFileName(applicationId());
    // The installed theme icon wins where the desktop has one; a build run from its source folder
    // still shows the bundled drawing.
    QGuiApplication::setWindowIcon(QIcon::fromTheme(
        applicationId(),
        QIcon(QStringLiteral(":/desktop/") + applicationId() + QStringLiteral(".svg"))));
    new PortalAppearance(sessionBus, this);
}

std::optional<int> DesktopIntegration::runCommand(int argc, char *argv[])
{
    if (argc < 2)
        return std::nullopt;
    const QByteArrayView command(argv[1]);
    if (command != "add" && command != "signin")
        return std::nullopt;
    // No window and no display: these commands run over ssh and in scripts as well.
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumaret"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumaret"));
    const QStringList arguments = QCoreApplication::arguments().mid(2);
    return command == "add" ? runAddCommand(arguments) : runSignInCommand(arguments);
}
