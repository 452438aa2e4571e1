#include "PortalAppearance.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
// A portal that is not running yet is started by the bus; the window should not wait long for it.
constexpr int portalTimeLimitMs = 300;

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() <
           palette.color(QPalette::WindowText).lightnessF();
}

// The portal's Read wraps the value in one variant more than the signal does.
QVariant unwrapped(QVariant value)
{
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

PortalAppearance::ColorScheme colorSchemeFrom(const QVariant &value)
{
    bool ok = false;
    const uint number = unwrapped(value).toUInt(&ok);
    if (!ok || number > uint(PortalAppearance::ColorScheme::light))
        return PortalAppearance::ColorScheme::noPreference;
    return PortalAppearance::ColorScheme(number);
}

} // namespace

QPalette PortalAppearance::paletteFor(ColorScheme scheme)
{
    const bool dark = scheme == ColorScheme::dark;
    // The neutral greys of the desktop's own light and dark appearances.
    const QColor window = dark ? QColor(0x1e, 0x1e, 0x20) : QColor(0xf5, 0xf5, 0xf7);
    const QColor base = dark ? QColor(0x2a, 0x2a, 0x2d) : QColor(0xff, 0xff, 0xff);
    const QColor text = dark ? QColor(0xf2, 0xf2, 0xf7) : QColor(0x1d, 0x1d, 0x1f);
    const QColor button = dark ? QColor(0x3a, 0x3a, 0x3c) : QColor(0xe9, 0xe9, 0xeb);
    const QColor disabled = dark ? QColor(0x7c, 0x7c, 0x80) : QColor(0x9a, 0x9a, 0x9e);
    QPalette palette(button, window);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    // Placeholders are read, not merely seen: 4.5:1 against the base colour.
    palette.setColor(QPalette::PlaceholderText,
                     dark ? QColor(0x9a, 0x9a, 0xa0) : QColor(0x6e, 0x6e, 0x73));
    palette.setColor(QPalette::Highlight,
                     dark ? QColor(0x0a, 0x84, 0xff) : QColor(0x00, 0x7a, 0xff));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, dark ? QColor(0x40, 0x9c, 0xff) : QColor(0x00, 0x66, 0xcc));
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    return palette;
}

PortalAppearance::PortalAppearance(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)), m_stylePalette(QApplication::palette())
{
    if (!m_bus.isConnected())
        return;
    // QtDBus matches the slot's parameters by their registered types, and nothing registers
    // QDBusVariant's before the first message arrives; without this the connection fails.
    qRegisterMetaType<QDBusVariant>();
    m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                  this, SLOT(takeSettingChange(QString, QString, QDBusVariant)));
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    read << appearanceGroup << colorSchemeKey;
    const QDBusMessage reply = m_bus.call(read, QDBus::Block, portalTimeLimitMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        setColorScheme(colorSchemeFrom(reply.arguments().constFirst()));
    } else if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply")) {
        // A portal the bus is still starting answers later; the window follows it then.
        auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(read), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending] {
            pending->deleteLater();
            const QDBusMessage late = pending->reply();
            if (late.type() == QDBusMessage::ReplyMessage && !late.arguments().isEmpty())
                setColorScheme(colorSchemeFrom(late.arguments().constFirst()));
        });
    }
}

void PortalAppearance::takeSettingChange(const QString &group, const QString &key,
                                         const QDBusVariant &value)
{
    if (group == appearanceGroup && key == colorSchemeKey)
        setColorScheme(colorSchemeFrom(value.variant()));
}

void PortalAppearance::setColorScheme(ColorScheme scheme)
{
    m_colorScheme = scheme;
    // Where the style already draws the preferred appearance, its own palette stays: it knows the
    // desktop's accent and contrast better than a generic one.
    const bool styleIsDark = isDark(m_stylePalette);
    const bool wantDark =
        scheme == ColorScheme::noPreference ? styleIsDark : scheme == ColorScheme::dark;
    QApplication::setPalette(wantDark == styleIsDark
                                 ? m_stylePalette
                                 : paletteFor(wantDark ? ColorScheme::dark : ColorScheme::light));
}
