#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

/// Draws a platform symbol name ("archivebox", "xmark.circle.fill", …) from the bundled icon set,
/// tinted with \a color, \a size logical pixels square at the given device pixel ratio.
QPixmap symbolPixmap(const QString &systemImage, const QColor &color, int size,
                     qreal devicePixelRatio = 1.0);

/// The same symbol as an icon whose normal and disabled modes are tinted for buttons.
QIcon symbolIcon(const QString &systemImage, const QColor &color, int size);

/// Whether the bundled set has a drawing for \a systemImage.
bool hasSymbol(const QString &systemImage);
