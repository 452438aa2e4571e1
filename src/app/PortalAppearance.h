#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QPalette>

/// Follows the desktop's light or dark preference as the freedesktop settings portal publishes it
/// (GNOME and KDE both do), for platform themes that do not pass it on to Qt. The application
/// palette changes only where the style's own palette disagrees with the preference, and changes
/// again at once when the preference does.
class PortalAppearance : public QObject
{
    Q_OBJECT

public:
    /// The portal's values of "color-scheme" in "org.freedesktop.appearance".
    enum class ColorScheme : uint { noPreference = 0, dark = 1, light = 2 };

    explicit PortalAppearance(QDBusConnection bus = QDBusConnection::sessionBus(),
                              QObject *parent = nullptr);

    ColorScheme colorScheme() const { return m_colorScheme; }

    /// The palette Lumaret uses for a dark or a light preference.
    static QPalette paletteFor(ColorScheme scheme);

private slots:
    void takeSettingChange(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void setColorScheme(ColorScheme scheme);

    QDBusConnection m_bus;
    QPalette m_stylePalette;
    ColorScheme m_colorScheme = ColorScheme::noPreference;
};
