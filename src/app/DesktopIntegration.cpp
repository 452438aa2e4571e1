#include "DesktopIntegration.h"

#include "PortalAppearance.h"

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
