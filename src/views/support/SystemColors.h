#pragma once

#include <QColor>
#include <QPalette>

struct StatusColor;

/// The platform's semantic colours, derived from the running style's palette so that they follow
/// the light or dark appearance.
namespace SystemColors {

QColor primaryLabel(const QPalette &palette);
/// Secondary text and symbols: the text colour at reduced opacity.
QColor secondaryLabel(const QPalette &palette);
QColor tertiaryLabel(const QPalette &palette);
QColor accent(const QPalette &palette);
QColor green(const QPalette &palette);
QColor blue(const QPalette &palette);
QColor red(const QPalette &palette);
QColor yellow(const QPalette &palette);
QColor windowBackground(const QPalette &palette);
QColor controlBackground(const QPalette &palette);
/// The regular material: a denser translucent fill than the ultra-thin one.
QColor regularMaterial(const QPalette &palette);

QColor fromStatusColor(const StatusColor &color);

/// \a color with its opacity multiplied by \a opacity.
QColor withOpacity(QColor color, qreal opacity);

/// The contrast of two opaque colours as WCAG 2.1 defines it, from 1 to 21.
qreal contrastRatio(const QColor &first, const QColor &second);
/// \a color, darkened on a light \a background or lightened on a dark one just enough to reach
/// \a ratio against it: a status colour stays recognisable and becomes readable.
QColor readableOn(const QColor &color, const QColor &background, qreal ratio);

} // namespace SystemColors
