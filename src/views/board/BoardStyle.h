#pragma once

#include "models/ThoughtStatus.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QPixmap>
#include <QStaticText>
#include <QString>

class QPainter;
class QPalette;
class QPointF;

/// The accent colour of \a status with its opacity set to \a opacity.
QColor accentColor(ThoughtStatus status, qreal opacity = 1.0);

/// The system font at \a points, where a point is one logical pixel as on the desktop the board
/// was designed for; Qt's own point sizes would come out a third larger at 96 dpi.
QFont boardFont(qreal points, QFont::Weight weight = QFont::Normal);

/// Secondary and tertiary label colours, derived from the palette's text colour.
QColor secondaryLabel(const QPalette &palette);
QColor tertiaryLabel(const QPalette &palette);

/// The regular material behind cards: more opaque than the columns' ultra-thin glass.
QColor regularMaterial(const QPalette &palette);

/// A text broken into at most a given number of lines; the last line is elided when text is left.
struct WrappedText
{
    QList<QString> lines;
    /// The same lines shaped once, so that repainting a card does not shape its text again.
    QList<QStaticText> shapedLines;
    qreal lineHeight = 0;
    qreal ascent = 0;
    qreal widestLine = 0;

    qreal height() const { return lines.size() * lineHeight; }
};

/// Breaks \a text at word boundaries (anywhere inside long words) to fit \a width.
WrappedText wrapText(const QString &text, const QFont &font, qreal width, int maxLines);

/// Draws \a text with its first line's top at \a topLeft, in the painter's current pen.
void drawWrappedText(QPainter &painter, const QPointF &topLeft, const WrappedText &text,
                     const QFont &font);
