#include "LumaretStyle.h"

#include "DeferredIcon.h"
#include "GlassSurface.h"
#include "SystemColors.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolButton>

namespace {

constexpr qreal buttonRadius = 9;
constexpr qreal popupRadius = 10;
constexpr qreal menuItemRadius = 6;
constexpr int popupPadding = 5;

QPainterPath roundedPath(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Menus and tooltips are windows of their own: without a compositor nothing shows through them,
// so their material is opaque and only their corners are cut away.
QColor popupSurface(const QPalette &palette)
{
    return isDarkAppearance(palette) ? QColor(44, 44, 48) : QColor(250, 250, 252);
}

QColor popupBorder(const QPalette &palette)
{
    return isDarkAppearance(palette) ? QColor(255, 255, 255, 36) : QColor(0, 0, 0, 30);
}

QRegion roundedRegion(const QRect &rect, qreal radius)
{
    return QRegion(roundedPath(QRectF(rect), radius).toFillPolygon().toPolygon());
}

void paintButtonPanel(QPainter &painter, const QRectF &rect, QStyle::State state, bool isDefault,
                      const QPalette &palette)
{
    const bool dark = isDarkAppearance(palette);
    const bool enabled = state & QStyle::State_Enabled;
    const bool hovered = enabled && (state & QStyle::State_MouseOver);
    const bool pressed = enabled && (state & (QStyle::State_Sunken | QStyle::State_On));
    QColor fill;
    QColor border;
    if (isDefault && enabled) {
        fill = SystemColors::accent(palette);
        if (pressed)
            fill = fill.darker(118);
        else if (hovered)
            fill = fill.lighter(112);
        border = Qt::transparent;
    } else {
        const qreal strength = pressed ? 0.5 : hovered ? 1.25 : 1.0;
        fill = dark ? QColor::fromRgbF(1, 1, 1, float(0.10 * strength))
                    : QColor::fromRgbF(1, 1, 1, float(qMin(1.0, 0.72 * strength)));
        if (pressed)
            fill = dark ? QColor::fromRgbF(1, 1, 1, 0.05f) : QColor::fromRgbF(0, 0, 0, 0.07f);
        border = dark ? QColor::fromRgbF(1, 1, 1, hovered ? 0.24f : 0.14f)
                      : QColor::fromRgbF(0, 0, 0, hovered ? 0.16f : 0.10f);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!enabled)
        painter.setOpacity(painter.opacity() * 0.55);
    const QRectF panel = rect.adjusted(1.5, 1.5, -1.5, -1.5);
    painter.setPen(border.alpha() ? QPen(border, 1.0) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(panel, buttonRadius, buttonRadius);
    painter.restore();
}

bool isDestructive(const QStyleOption *option, const QWidget *widget)
{
    const auto *menu = qobject_cast<const QMenu *>(widget);
    if (!menu)
        return false;
    const QAction *action = menu->actionAt(option->rect.center());
    return action && action->property(destructiveActionProperty).toBool();
}

} // namespace

void paintFocusRing(QPainter &painter, const QRectF &rect, qreal cornerRadius,
                    const QPalette &palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ring = SystemColors::readableOn(SystemColors::accent(palette),
                                                 palette.color(QPalette::Window), 3.4);
    painter.setPen(QPen(ring, 2.0));
    painter.setBrush(Qt::NoBrush);
    const qreal radius = qMax<qreal>(0, cornerRadius - 1);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
}

bool hasFocusWithin(const QWidget *widget)
{
    const QWidget *focus = QApplication::focusWidget();
    return focus && (focus == widget || widget->isAncestorOf(focus));
}

void repaintOnFocusWithin(QWidget *widget)
{
    QObject::connect(
        qApp, &QApplication::focusChanged, widget, [widget](QWidget *old, QWidget *now) {
            if ((old && widget->isAncestorOf(old)) || (now && widget->isAncestorOf(now)))
                widget->update();
        });
}

QString plainToolButtonStyle()
{
    return QStringLiteral(
        "QToolButton { border: none; background: transparent; padding: 0; border-radius: 6px; }"
        "QToolButton:hover { background: rgba(128, 128, 128, 0.18); }"
        "QToolButton:pressed { background: rgba(128, 128, 128, 0.32); }"
        "QToolButton:focus { border: 2px solid palette(highlight); }");
}

void LumaretStyle::install()
{
    if (qobject_cast<LumaretStyle *>(QApplication::style()))
        return;
    QStyle *base = QStyleFactory::create(QApplication::style()->name());
    if (!base)
        base = QStyleFactory::create(QStringLiteral("Fusion"));
    QApplication::setStyle(new LumaretStyle(base));
}

QIcon LumaretStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption *option,
                                 const QWidget *widget) const
{
    // The menu bar sets its overflow button's icon when it is made, though the button shows only
    // when the menus do not fit. Loading it means loading the image format plugins: a few
    // milliseconds of every launch for a button that is never seen.
    if ((standardIcon == SP_ToolBarHorizontalExtensionButton ||
         standardIcon == SP_ToolBarVerticalExtensionButton) &&
        !option) {
        const QPointer<const QWidget> target(widget);
        const QPointer<const LumaretStyle> style(this);
        return deferredIcon([style, standardIcon, target] {
            if (!style)
                return QApplication::style()->standardIcon(standardIcon, nullptr, target.data());
            return style->QProxyStyle::standardIcon(standardIcon, nullptr, target.data());
        });
    }
    return QProxyStyle::standardIcon(standardIcon, option, widget);
}

void LumaretStyle::polish(QWidget *widget)
{
    QProxyStyle::polish(widget);
    // Hover is drawn on every button and on the menu bar's titles.
    if (qobject_cast<QPushButton *>(widget) || qobject_cast<QToolButton *>(widget) ||
        widget->inherits("QMenuBar"))
        widget->setAttribute(Qt::WA_Hover);
    // Tooltips keep a palette of their own, made before the appearance may have changed: give
    // them the window's text colour on the popup surface of the current appearance.
    if (widget->inherits("QTipLabel")) {
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::ToolTipBase, popupSurface(palette));
        palette.setColor(QPalette::ToolTipText, palette.color(QPalette::WindowText));
        widget->setPalette(palette);
    }
}

void LumaretStyle::unpolish(QWidget *widget)
{
    QProxyStyle::unpolish(widget);
}

void LumaretStyle::polish(QPalette &palette)
{
    QProxyStyle::polish(palette);
    palette.setColor(QPalette::ToolTipBase, popupSurface(palette));
    palette.setColor(QPalette::ToolTipText, palette.color(QPalette::WindowText));
}

void LumaretStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                 QPainter *painter, const QWidget *widget) const
{
    switch (element) {
    case PE_PanelButtonCommand: {
        const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
        paintButtonPanel(*painter, QRectF(option->rect), option->state,
                         button && (button->features & QStyleOptionButton::DefaultButton),
                         option->palette);
        return;
    }
    case PE_FrameFocusRect:
        paintFocusRing(*painter, QRectF(option->rect), menuItemRadius, option->palette);
        return;
    case PE_PanelMenu:
    case PE_PanelTipLabel: {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(popupBorder(option->palette), 1.0));
        painter->setBrush(popupSurface(option->palette));
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5),
                                 popupRadius - 0.5, popupRadius - 0.5);
        painter->restore();
        return;
    }
    case PE_FrameMenu:
        // The panel draws its own rounded border.
        return;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void LumaretStyle::drawControl(ControlElement element, const QStyleOption *option,
                               QPainter *painter, const QWidget *widget) const
{
    switch (element) {
    case CE_PushButtonBevel: {
        const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
        if (!button)
            break;
        // With the keyboard on it the button draws a little smaller inside the ring, so that
        // the ring stands apart also from the accent fill of the default button.
        const bool focused = option->state & State_HasFocus;
        const QRectF outer(option->rect);
        paintButtonPanel(*painter, focused ? outer.adjusted(2, 2, -2, -2) : outer, option->state,
                         button->features & QStyleOptionButton::DefaultButton, option->palette);
        if (focused)
            paintFocusRing(*painter, outer, buttonRadius + 1.5, option->palette);
        return;
    }
    case CE_PushButtonLabel: {
        const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
        if (!button)
            break;
        QStyleOptionButton label = *button;
        if ((button->features & QStyleOptionButton::DefaultButton) &&
            (button->state & State_Enabled))
            label.palette.setColor(QPalette::ButtonText, Qt::white);
        QProxyStyle::drawControl(element, &label, painter, widget);
        return;
    }
    case CE_MenuItem: {
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        if (!item)
            break;
        if (item->menuItemType == QStyleOptionMenuItem::Separator) {
            painter->save();
            painter->setPen(QPen(popupBorder(option->palette), 1.0));
            const int y = option->rect.center().y();
            painter->drawLine(option->rect.left() + 8, y, option->rect.right() - 8, y);
            painter->restore();
            return;
        }
        const bool selected = (item->state & State_Selected) && (item->state & State_Enabled);
        QStyleOptionMenuItem plain = *item;
        plain.state &= ~State_Selected;
        QColor text = item->palette.color(QPalette::Text);
        if (isDestructive(option, widget))
            text = SystemColors::red(option->palette);
        if (selected) {
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(isDestructive(option, widget)
                                  ? SystemColors::red(option->palette)
                                  : SystemColors::accent(option->palette));
            painter->drawRoundedRect(QRectF(option->rect).adjusted(1, 1, -1, -1), menuItemRadius,
                                     menuItemRadius);
            painter->restore();
            text = Qt::white;
        }
        for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText,
                                         QPalette::HighlightedText})
            plain.palette.setColor(role, text);
        // The running style fills unselected items with the menu's own colour; the rounded
        // panel and highlight are ours.
        plain.palette.setColor(QPalette::Window, Qt::transparent);
        plain.palette.setColor(QPalette::Base, Qt::transparent);
        plain.palette.setColor(QPalette::Button, Qt::transparent);
        QProxyStyle::drawControl(element, &plain, painter, widget);
        return;
    }
    case CE_MenuBarEmptyArea:
        painter->fillRect(option->rect, option->palette.color(QPalette::Window));
        return;
    case CE_MenuBarItem: {
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        if (!item)
            break;
        painter->fillRect(option->rect, option->palette.color(QPalette::Window));
        const bool open = item->state & State_Sunken;
        const bool hovered = item->state & (State_Selected | State_MouseOver);
        if ((open || hovered) && (item->state & State_Enabled)) {
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(
                open
                    ? SystemColors::withOpacity(SystemColors::accent(option->palette), 0.22)
                    : SystemColors::withOpacity(SystemColors::primaryLabel(option->palette), 0.08));
            painter->drawRoundedRect(QRectF(option->rect).adjusted(1, 2, -1, -2), menuItemRadius,
                                     menuItemRadius);
            painter->restore();
        }
        drawItemText(painter, option->rect,
                     Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextDontClip | Qt::TextSingleLine,
                     option->palette, option->state & State_Enabled, item->text,
                     QPalette::WindowText);
        return;
    }
    default:
        break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

int LumaretStyle::pixelMetric(PixelMetric metric, const QStyleOption *option,
                              const QWidget *widget) const
{
    switch (metric) {
    case PM_MenuHMargin:
    case PM_MenuVMargin:
        return popupPadding;
    case PM_MenuPanelWidth:
        return 1;
    case PM_ToolTipLabelFrameWidth:
        return 7;
    case PM_MenuBarItemSpacing:
        return 2;
    case PM_MenuBarHMargin:
        return 4;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int LumaretStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                            QStyleHintReturn *returnData) const
{
    switch (hint) {
    case SH_Menu_Mask:
    case SH_ToolTip_Mask:
        if (auto *mask = qstyleoption_cast<QStyleHintReturnMask *>(returnData)) {
            if (option)
                mask->region = roundedRegion(option->rect, popupRadius);
            return 1;
        }
        break;
    default:
        break;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QSize LumaretStyle::sizeFromContents(ContentsType type, const QStyleOption *option,
                                     const QSize &size, const QWidget *widget) const
{
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_PushButton)
        result = result.expandedTo(QSize(72, 32));
    else if (type == CT_MenuItem)
        result.rheight() = qMax(result.height(), 26);
    return result;
}
