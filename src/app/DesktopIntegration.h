#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

/// How the running window presents itself to the desktop: the same icon and desktop entry the
/// launcher shows, so that panels and task switchers group the window under its launcher, and the
/// desktop's light or dark appearance.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    /// The reverse-domain name the desktop entry, the icon and the software metadata share.
    static QString applicationId();

    /// \a sessionBus is where the desktop portal is asked for the appearance.
    explicit DesktopIntegration(const QDBusConnection &sessionBus = QDBusConnection::sessionBus(),
                                QObject *parent = nullptr);
};
