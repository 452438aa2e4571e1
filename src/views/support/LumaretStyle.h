#pragma once

#include <QProxyStyle>

class QPainter;
class QPalette;
class QRectF;

/// The one look of the stock controls: push buttons, tooltips, menus and the menu bar drawn in the
/// rounded, translucent language of the header's glass, in the light and the dark appearance; an
/// accent focus ring on whatever holds the keyboard; destructive menu items in red. Everything
/// else is the running style's.
class LumaretStyle : public QProxyStyle
{
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    /// Wraps the application's current style, once.
    static void install();

    void polish(QWidget *widget) override;
    void unpolish(QWidget *widget) override;
    void polish(QPalette &palette) override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption *option = nullptr,
                  const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget = nullptr) const override;
    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};

/// The property that marks a menu action as destructive (deleting something): drawn in red.
inline constexpr char destructiveActionProperty[] = "lumaretDestructive";

/// The keyboard focus ring: a 2-point accent line along the inside of \a rect, following its
/// corners.
void paintFocusRing(QPainter &painter, const QRectF &rect, qreal cornerRadius,
                    const QPalette &palette);

/// Whether the keyboard focus is on \a widget or inside it.
bool hasFocusWithin(const QWidget *widget);

/// Repaints \a widget whenever the focus enters or leaves it, for containers that draw the ring
/// around a field inside them.
void repaintOnFocusWithin(QWidget *widget);

/// The style sheet of a borderless symbol button: no frame at rest, a faint rounded wash under the
/// pointer, a darker one pressed and the accent ring with the keyboard focus.
QString plainToolButtonStyle();
